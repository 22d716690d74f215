#include "TestSupport.h"
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
using glimra::test::waitUntil;
using namespace std::chrono_literals;

namespace {

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

TEST(SerialQueue, DelayedJobsRunByDueTimeAndNotEarlyAndSyncRunsInlineOnItsQueue) {
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
    ASSERT_TRUE(waitUntil([&] { return log.get().size() == 4; }));
    EXPECT_EQ(log.get(), (std::vector<int>{1, 0, 2, 3}));
    EXPECT_GE(ranAt.load(), 80);
    int value = 0;
    dispatch_sync(queue, [&] { dispatch_sync(queue, [&] { value = 1; }); }); // inline: no deadlock
    EXPECT_EQ(value, 1);
}

// Destruction runs the jobs already due and drops future ones with their captures; a queue whose
// last reference goes in its own job is destroyed on its own worker.
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
    EXPECT_EQ(futureCapture.use_count(), 1);

    std::atomic<bool> done{false};
    auto queue = dispatch_queue_create("test.self");
    dispatch_async(queue, [&done, keep = queue]() mutable {
        std::this_thread::sleep_for(20ms);
        keep.reset();
        done = true;
    });
    queue.reset();
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
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
    ASSERT_TRUE(waitUntil([&] { return log.get().size() == 5; }));
    EXPECT_EQ(log.get(), (std::vector<int>{0, 1, 2, 9, 4}));
    EXPECT_EQ(offMain, 0);
}
