#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads, started once, that share the pieces of a loop with the thread that
// runs the loop. Pieces are handed out one at a time to whichever thread is free, so work
// whose pieces write disjoint memory gives the same result however it is split.
class workerPool {
public:
    // threads in all, the calling thread included; fewer than 2 starts none.
    explicit workerPool(int threads);
    ~workerPool();
    workerPool(const workerPool&) = delete;
    workerPool& operator=(const workerPool&) = delete;

    int threads() const { return static_cast<int>(workers.size()) + 1; }

    // Calls piece(i) once for every i in [0, count) and returns when all calls have returned.
    // One loop at a time, from one thread; piece must not throw.
    void forEachPiece(int count, const std::function<void(int)>& piece);

private:
    void serve();
    void drain(const std::function<void(int)>& piece, int count);

    std::vector<std::thread> workers;
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable finished;
    const std::function<void(int)>* job = nullptr; // null between loops
    int jobCount = 0;
    unsigned generation = 0; // counts loops, so that a thread joins each loop at most once
    int running = 0;         // workers inside the current loop
    bool stopping = false;
    std::atomic<int> next{0};
};

// The library's pool: two threads (the caller and one worker), or one on a one-core machine.
workerPool& sharedWorkers();
// Replaces the shared pool by one of n threads in all; never while it runs a loop.
void setSharedWorkerThreads(int n);
