// Turned outputs copied on the headless sway session (the capture scenarios drive the roads themselves at
// 90 degrees only), a busy KWin, and a compositor that never answers.

#include "WaylandTestKit.h"

#include <QElapsedTimer>

#include <unistd.h>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

const QString kLeft = "HEADLESS-1";

// Rotated and mirrored outputs come upright, as they show in the layout.
struct Turn {
    const char* name;
    const char* transform;
    bool sideways;
};

class Turns : public SwaySession, public ::testing::WithParamInterface<Turn> {
protected:
    void TearDown() override {
        if (ipc)
            swayCommand(QStringLiteral("output %1 transform normal").arg(kLeft));
    }
};

// grim turns the output's buffer upright by itself: the copy must show what it shows.
TEST_P(Turns, RotatedOutputsComeUpright) {
    ASSERT_TRUE(swayCommand(QStringLiteral("output %1 transform %2").arg(kLeft, GetParam().transform)));
    const QSize upright = GetParam().sideways ? QSize(1080, 1920) : QSize(1920, 1080);
    CopyResult r;
    double differs = 255;
    EXPECT_TRUE(waitUntil(
        [&] {
            r = copyOutputs(*screencopy, {kLeft});
            differs = r.images.size() == 1 ? difference(r.images[0].image, outputImage(kLeft)) : 255;
            return differs == 0;
        },
        10000))
        << differs;
    ASSERT_EQ(r.images.size(), 1u);
    EXPECT_EQ(r.images[0].logical, QRect(QPoint(0, 0), upright));
}

INSTANTIATE_TEST_SUITE_P(Wayland, Turns,
                         ::testing::Values(Turn{"Quarter", "90", true}, Turn{"Half", "180", false},
                                           Turn{"ThreeQuarters", "270", true},
                                           Turn{"Mirrored", "flipped", false},
                                           Turn{"MirroredQuarter", "flipped-90", true},
                                           Turn{"MirroredThreeQuarters", "flipped-270", true}),
                         caseName);

// A KWin too busy to answer the road's first question within its second (starting up, rendering in
// software) keeps its road: the first copy finds out whether it works. An object on this thread, which
// the question blocks, stands in for it.
TEST(KWinScreenShotRoad, ABusyKWinIsTriedAllTheSame) {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "busy-kwin");
    QObject kwin;
    ASSERT_TRUE(bus.registerObject("/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", &kwin,
                                   QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.KWin")));
    const std::unique_ptr<OutputCopier> copier = makeKWinScreenShotCopier(nullptr);
    EXPECT_TRUE(copier && copier->road() == QStringLiteral("kwin-screenshot2"));
    bus.unregisterService(QStringLiteral("org.kde.KWin"));
    QDBusConnection::disconnectFromBus(QStringLiteral("busy-kwin"));
}

// A socket that takes the connection and never answers, as a compositor that hangs.
TEST(WaylandConnection, ACompositorThatNeverAnswersCostsTheTimeoutOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wayland-mute"));
    const int listener = listeningSocket(path);
    ASSERT_GE(listener, 0);

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(WaylandConnection::connect(path, std::chrono::milliseconds(300)));
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 2000);
    close(listener);
    EXPECT_FALSE(WaylandConnection::connect(path)); // nobody listens any more
}

} // namespace
