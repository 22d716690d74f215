#include "x11/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <thread>

using glimra::x11::PixelBufferPool;

TEST(PixelBufferPool, AKeptImageIsNeverHandedOutAgain) {
    PixelBufferPool pool(2);
    QImage first = pool.createImage(QSize(64, 32));
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.format(), QImage::Format_RGB32);
    first.fill(Qt::red);
    const uchar* firstBits = first.constBits();

    QImage second = pool.createImage(QSize(64, 32));
    EXPECT_NE(second.constBits(), firstBits);
    second.fill(Qt::blue);
    EXPECT_EQ(first.pixel(5, 5), QColor(Qt::red).rgb());

    // A copy shares the buffer: it only comes back when the last copy is gone.
    QImage copy = first;
    first = QImage();
    EXPECT_EQ(pool.idleCount(), 0);
    copy = QImage();
    EXPECT_EQ(pool.idleCount(), 1);
    EXPECT_EQ(pool.createImage(QSize(32, 32)).constBits(), firstBits); // warm buffer reused
}

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
