#include "dispatch/Dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace dispatch;
using namespace std::chrono_literals;

namespace {

bool spinUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

// Records from any thread.
struct Log {
    std::mutex mutex;
    std::vector<int> items;
    void add(int v) {
        std::lock_guard lock(mutex);
        items.push_back(v);
    }
    std::vector<int> get() {
        std::lock_guard lock(mutex);
        return items;
    }
};

} // namespace

TEST(SerialQueue, RunsJobsInOrderOnOneThreadAndKnowsItsThread) {
    auto queue = dispatch_queue_create("test.order");
    EXPECT_EQ(queue->label(), "test.order");
    EXPECT_FALSE(queue->isCurrent());
    Log log;
    std::atomic<int> wrongThread{0};
    std::thread::id worker;
    dispatch_sync(queue, [&] { worker = std::this_thread::get_id(); });
    // Four producers at once: each producer's jobs keep their order.
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < 500; ++i)
                dispatch_async(queue, [&, p, i] {
                    if (std::this_thread::get_id() != worker || !queue->isCurrent())
                        ++wrongThread;
                    log.add(p * 1000 + i);
                });
        });
    for (auto& t : producers)
        t.join();
    dispatch_sync(queue, [] {});
    const auto items = log.get();
    ASSERT_EQ(items.size(), 2000u);
    std::vector<int> last(4, -1);
    for (int v : items) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
    EXPECT_EQ(wrongThread, 0);
}

TEST(SerialQueue, DelayedJobsRunByDueTimeAndNotEarly) {
    auto queue = dispatch_queue_create("test.after");
    Log log;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> ranAt{0};
    dispatch_after(80ms, queue, [&] {
        ranAt = clock.elapsed();
        log.add(3);
    });
    dispatch_after(30ms, queue, [&] { log.add(2); });
    dispatch_async(queue, [&] { log.add(1); });
    dispatch_after(-5ms, queue, [&] { log.add(0); }); // already due: behind the job queued before it
    ASSERT_TRUE(spinUntil([&] { return log.get().size() == 4; }));
    EXPECT_EQ(log.get(), (std::vector<int>{1, 0, 2, 3}));
    EXPECT_GE(ranAt.load(), 80);
}

TEST(SerialQueue, SyncRunsInlineOnItsOwnQueueAndWaitsElsewhere) {
    auto queue = dispatch_queue_create("test.sync");
    int value = 0;
    dispatch_sync(queue, [&] {
        dispatch_sync(queue, [&] { value = 1; }); // would deadlock if queued
        value += 1;
    });
    EXPECT_EQ(value, 2);
    dispatch_sync(queue, [&] {
        std::this_thread::sleep_for(20ms);
        value = 7;
    });
    EXPECT_EQ(value, 7);
}

TEST(SerialQueue, DestructionDrainsDueJobsAndDropsFutureOnes) {
    auto ran = std::make_shared<std::atomic<int>>(0);
    auto futureCapture = std::make_shared<int>(0);
    {
        auto queue = dispatch_queue_create("test.drain");
        dispatch_async(queue, [] { std::this_thread::sleep_for(30ms); });
        for (int i = 0; i < 10; ++i)
            dispatch_async(queue, [ran] { ++*ran; });
        dispatch_after(1h, queue, [futureCapture] {});
    }
    EXPECT_EQ(ran->load(), 10);
    EXPECT_EQ(futureCapture.use_count(), 1); // the dropped job's captures were released
}

TEST(SerialQueue, LastReferenceDroppedByItsOwnJob) {
    std::atomic<bool> done{false};
    auto queue = dispatch_queue_create("test.self");
    auto keep = queue;
    dispatch_async(queue, [&done, keep]() mutable {
        std::this_thread::sleep_for(20ms);
        keep.reset(); // the last reference: the queue is destroyed on its own worker
        done = true;
    });
    queue.reset();
    keep.reset();
    ASSERT_TRUE(spinUntil([&] { return done.load(); }));
}

TEST(MainQueue, RunsOnTheMainThreadInOrderIncludingDelayedJobsFromWorkers) {
    auto main = dispatch_get_main_queue();
    EXPECT_EQ(main, dispatch_get_main_queue());
    EXPECT_TRUE(main->isCurrent());
    Log log;
    std::atomic<int> offMain{0};
    auto worker = dispatch_queue_create("test.poster");
    dispatch_async(worker, [&] {
        EXPECT_FALSE(main->isCurrent());
        dispatch_after(40ms, main, [&] {
            if (QThread::currentThread() != qApp->thread())
                ++offMain;
            log.add(4);
        });
        for (int i = 0; i < 3; ++i)
            dispatch_async(main, [&, i] {
                if (!main->isCurrent())
                    ++offMain;
                log.add(i);
            });
        int fromMain = 0;
        dispatch_sync(main, [&] { fromMain = 9; });
        log.add(fromMain);
    });
    ASSERT_TRUE(spinUntil([&] { return log.get().size() == 5; }));
    EXPECT_EQ(log.get(), (std::vector<int>{0, 1, 2, 9, 4}));
    EXPECT_EQ(offMain, 0);
}
