#include "pixels/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using glimra::PixelBuffer;
using glimra::PixelBufferPool;

TEST(PixelBufferPool, ImagesOutliveThePoolAndMayDieOnAnyThread) {
    QImage survivor;
    QImage elsewhere;
    {
        PixelBufferPool pool(1);
        survivor = pool.createImage(QSize(100, 100));
        elsewhere = pool.createImage(QSize(100, 100));
        pool.prepare(1 << 20);
        EXPECT_EQ(pool.idleCount(), 1);
        std::thread([image = std::move(elsewhere)]() mutable { image = QImage(); }).join();
        EXPECT_EQ(pool.idleCount(), 1); // full: the returning buffer was dropped
    }
    survivor.fill(Qt::green);
    EXPECT_EQ(survivor.pixel(99, 99), QColor(Qt::green).rgb());
    EXPECT_TRUE(PixelBufferPool().createImage(QSize(0, 10)).isNull());
}

// Buffers of a pool's own making (shared memory segments in the grabber): an idle one goes on
// release(), one coming back after the pool is gone is told so before it goes.
TEST(PixelBufferPool, OwnBuffersGoOnReleaseAndAreOrphanedAfterThePool) {
    struct Counts {
        int alive = 0;
        int orphaned = 0;
    } counts;
    class Counted : public PixelBuffer {
    public:
        Counted(std::size_t bytes, Counts& counts) : bytes_(bytes), counts_(counts) { ++counts_.alive; }
        ~Counted() override { --counts_.alive; }
        uchar* data() const override { return bytes_.data(); }
        std::size_t capacity() const override { return bytes_.size(); }
        void orphan() override { ++counts_.orphaned; }

    private:
        mutable std::vector<uchar> bytes_;
        Counts& counts_;
    };
    QImage kept;
    {
        PixelBufferPool pool(1, [&](std::size_t bytes) { return std::make_unique<Counted>(bytes, counts); });
        pool.prepare(64 * 64 * 4);
        EXPECT_EQ(counts.alive, 1);
        pool.release();
        EXPECT_EQ(counts.alive, 0);
        EXPECT_EQ(pool.idleCount(), 0);

        kept = pool.createImage(QSize(64, 64));
        auto idle = pool.takeIdle(1);
        EXPECT_EQ(idle, nullptr);
        EXPECT_EQ(counts.alive, 1);
    }
    EXPECT_EQ(counts.orphaned, 0);
    kept = QImage();
    EXPECT_EQ(counts.orphaned, 1);
    EXPECT_EQ(counts.alive, 0);
}
