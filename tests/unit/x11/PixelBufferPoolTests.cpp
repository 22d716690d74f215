#include "x11/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <thread>

using glimra::x11::PixelBufferPool;

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
