#include "core/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(workerPool, everyPieceOnceForAnyNumberOfThreads)
{
    for (int threads : {1, 2, 3, 4}) {
        workerPool pool(threads);
        EXPECT_EQ(pool.threads(), threads);
        for (int count : {0, 1, 2, 7, 300}) {
            std::vector<std::atomic<int>> calls(static_cast<size_t>(count));
            for (int round = 0; round < 50; ++round)
                pool.forEachPiece(count, [&](int i) { calls[static_cast<size_t>(i)].fetch_add(1); });
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(calls[static_cast<size_t>(i)].load(), 50) << threads << " threads, " << count << " pieces";
        }
    }
    // Pieces writing their own slots of plain memory: the results are whole after the call.
    workerPool pool(2);
    std::vector<long> squares(1000);
    for (int round = 0; round < 200; ++round) {
        pool.forEachPiece(1000, [&](int i) { squares[static_cast<size_t>(i)] = long(i) * i + round; });
        for (int i = 0; i < 1000; i += 97)
            ASSERT_EQ(squares[static_cast<size_t>(i)], long(i) * i + round);
    }
}

TEST(workerPool, sharedPoolCanBeResized)
{
    EXPECT_GE(sharedWorkers().threads(), 1);
    setSharedWorkerThreads(3);
    EXPECT_EQ(sharedWorkers().threads(), 3);
    std::atomic<int> sum{0};
    sharedWorkers().forEachPiece(100, [&](int i) { sum += i; });
    EXPECT_EQ(sum.load(), 4950);
    setSharedWorkerThreads(2);
    EXPECT_EQ(sharedWorkers().threads(), 2);
}
