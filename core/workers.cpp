#include "core/workers.h"

#include <memory>

workerPool::workerPool(int threads)
{
    for (int i = 1; i < threads; ++i)
        workers.emplace_back([this] { serve(); });
}

workerPool::~workerPool()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : workers)
        t.join();
}

void workerPool::drain(const std::function<void(int)>& piece, int count)
{
    for (int i = next.fetch_add(1, std::memory_order_relaxed); i < count;
         i = next.fetch_add(1, std::memory_order_relaxed))
        piece(i);
}

void workerPool::serve()
{
    unsigned seen = 0;
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        wake.wait(hold, [&] { return stopping || generation != seen; });
        if (stopping)
            return;
        seen = generation;
        // A worker that wakes after the caller has finished every piece stays out: the caller
        // does not wait for threads that were slow to be scheduled.
        if (!job)
            continue;
        const std::function<void(int)>* piece = job;
        const int count = jobCount;
        ++running;
        hold.unlock();
        drain(*piece, count);
        hold.lock();
        if (--running == 0)
            finished.notify_one();
    }
}

void workerPool::forEachPiece(int count, const std::function<void(int)>& piece)
{
    if (workers.empty() || count < 2) {
        for (int i = 0; i < count; ++i)
            piece(i);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(lock);
        job = &piece;
        jobCount = count;
        next.store(0, std::memory_order_relaxed);
        ++generation;
    }
    wake.notify_all();
    drain(piece, count);
    std::unique_lock<std::mutex> hold(lock);
    job = nullptr;
    finished.wait(hold, [&] { return running == 0; });
}

namespace {

int defaultThreads()
{
    return std::thread::hardware_concurrency() == 1 ? 1 : 2;
}

std::unique_ptr<workerPool>& sharedSlot()
{
    static std::unique_ptr<workerPool> pool;
    return pool;
}

} // namespace

workerPool& sharedWorkers()
{
    std::unique_ptr<workerPool>& pool = sharedSlot();
    if (!pool)
        pool = std::make_unique<workerPool>(defaultThreads());
    return *pool;
}

void setSharedWorkerThreads(int n)
{
    std::unique_ptr<workerPool>& pool = sharedSlot();
    pool.reset();
    pool = std::make_unique<workerPool>(n);
}
