// Copies of outputs through each road on the headless sway session, and a compositor that never answers.

#include "WaylandTestKit.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <unistd.h>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

const QString kLeft = QStringLiteral("HEADLESS-1");
const QString kRight = QStringLiteral("HEADLESS-2");

struct Road {
    const char* name;
    const char* road;
    std::unique_ptr<OutputCopier> (*make)(std::shared_ptr<WaylandConnection>);
};

std::unique_ptr<OutputCopier> portal(std::shared_ptr<WaylandConnection> c) {
    // The portal starts in seconds the first time (its backends, PipeWire): not what is tested here.
    QDBusConnection::sessionBus().interface()->startService(CopierOptions().portalService);
    return makePortalCopier(std::move(c));
}

// HEADLESS-1's wallpaper: patternImage in blocks of 8 x 8 pixels. The portal's tool images the layout
// at the finest scale and the copier scales HEADLESS-1 back: the blocks' edges blur on the way.
const int kBlock = 8;
QImage blocks() {
    return patternImage(QSize(1920, 1080) / kBlock).scaled(QSize(1920, 1080));
}
::testing::AssertionResult showsBlocks(const QImage& image) {
    QImage centres(image.size() / kBlock, QImage::Format_RGB32);
    for (int y = 0; y < centres.height(); ++y)
        for (int x = 0; x < centres.width(); ++x)
            centres.setPixel(x, y, image.pixel(x * kBlock + kBlock / 2, y * kBlock + kBlock / 2));
    return showsPattern(centres, centres.rect());
}

class Roads : public SwaySession, public ::testing::WithParamInterface<Road> {};

TEST_P(Roads, CopiesAreTheWallpapersPixelForPixel) {
    const QImage left = blocks();
    const QImage right = testPattern(QSize(1280, 720), 1);
    ASSERT_TRUE(setWallpaper(kLeft, left));
    ASSERT_TRUE(setWallpaper(kRight, right));
    std::unique_ptr<OutputCopier> copier = GetParam().make(connection);
    ASSERT_TRUE(copier);
    EXPECT_EQ(copier->road().toStdString(), GetParam().road);
    copier->warmUp();

    const CopyResult all = copyOutputs(*copier);
    EXPECT_EQ(all.calls, 1);
    ASSERT_EQ(all.images.size(), 2u);
    QStringList qtNames;
    for (const QScreen* screen : QGuiApplication::screens())
        qtNames << screen->name();
    for (const OutputImage& o : all.images) {
        EXPECT_TRUE(qtNames.contains(o.name)) << o.name.toStdString() << " is no QScreen's name";
        EXPECT_EQ(o.image.format(), QImage::Format_RGB32);
    }
    EXPECT_EQ(all.images[0].logical, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(all.images[1].logical, QRect(1920, 0, 640, 360));
    ASSERT_TRUE(all.image(kLeft) && all.image(kRight));
    EXPECT_EQ(all.image(kLeft)->size(), QSize(1920, 1080));
    EXPECT_TRUE(showsBlocks(*all.image(kLeft)));
    if (copier->road() != QLatin1String("portal")) {
        EXPECT_EQ(difference(*all.image(kLeft), left), 0);
    }
    EXPECT_EQ(all.image(kRight)->size(), QSize(1280, 720));
    EXPECT_EQ(difference(*all.image(kRight), right), 0);

    // One output by name, once more after the buffers went; an unknown name fails the copy.
    copier->releaseBuffers();
    const CopyResult one = copyOutputs(*copier, {kRight});
    ASSERT_EQ(one.images.size(), 1u);
    EXPECT_EQ(difference(one.images[0].image, right), 0);
    const CopyResult unknown = copyOutputs(*copier, {kRight, QStringLiteral("NOWHERE-1")});
    EXPECT_EQ(unknown.calls, 1);
    EXPECT_TRUE(unknown.images.empty());

    // Kept images stay as they were while later copies reuse the warm buffers.
    ASSERT_TRUE(setWallpaper(kRight, testPattern(QSize(1280, 720), 2)));
    EXPECT_EQ(difference(one.images[0].image, right), 0);
    EXPECT_EQ(difference(*all.image(kRight), right), 0);
}

INSTANTIATE_TEST_SUITE_P(Wayland, Roads,
                         ::testing::Values(Road{"WlrScreencopy", "wlr-screencopy", &makeScreencopyCopier},
                                           Road{"Portal", "portal", &portal}),
                         caseName);

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
        SwaySession::TearDown();
    }
};

TEST_P(Turns, RotatedOutputsComeUpright) {
    ASSERT_TRUE(swayCommand(QStringLiteral("output %1 transform %2").arg(kLeft, GetParam().transform)));
    const QSize upright = GetParam().sideways ? QSize(1080, 1920) : QSize(1920, 1080);
    ASSERT_TRUE(setWallpaper(kLeft, patternImage(upright))); // waits until a copy shows it upright
    const CopyResult r = copyOutputs(*screencopy, {kLeft});
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

TEST_F(SwaySession, TheFactoryTakesTheFirstRoadOfferedUnlessOneIsForced) {
    EXPECT_EQ(makeOutputCopier()->road(), QStringLiteral("wlr-screencopy"));
    qputenv("GLIMRA_WAYLAND_CAPTURE", "portal");
    EXPECT_EQ(makeOutputCopier()->road(), QStringLiteral("portal"));
    qunsetenv("GLIMRA_WAYLAND_CAPTURE");
}

// A KWin too busy to answer the road's first question within its second (starting up, rendering in
// software) keeps its road: the first copy finds out whether it works. An object on this thread, which
// the question blocks, stands in for it.
TEST(KWinScreenShotRoad, ABusyKWinIsTriedAllTheSame) {
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("busy-kwin"));
    QObject kwin;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/kde/KWin/ScreenShot2"),
                                   QStringLiteral("org.kde.KWin.ScreenShot2"), &kwin,
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
