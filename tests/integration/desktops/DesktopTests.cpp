// The capture roads and the test input on headless KWin and GNOME Shell, at the session's scale: what
// the screen shows comes back pixel for pixel, in the output's device pixels, and injected clicks and
// keys reach a window; the real helper there, driven as a user drives it, delivers the full screen and
// a dragged region in device pixels.

#include "DesktopLoader.h"
#include "HelperLink.h"
#include "PictureSurface.h"
#include "TestInput.h"
#include "TestSupport.h"
#include "WaylandKit.h"
#include "XTestKit.h"
#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QSaveFile>
#include <QScreen>

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <optional>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

enum class Desktop { KWin, Gnome };

// A full-screen window that records whether the pointer came in, where it was pressed and which keys
// it got.
class InputWindow : public QRasterWindow {
public:
    bool pointerIn = false;
    QPoint pressedAt{-1, -1};
    QList<int> keys;

protected:
    bool event(QEvent* e) override {
        pointerIn |= e->type() == QEvent::Enter;
        return QRasterWindow::event(e);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkGreen);
    }
    void mousePressEvent(QMouseEvent* e) override { pressedAt = e->position().toPoint(); }
    void keyPressEvent(QKeyEvent* e) override { keys << e->key(); }
};

// The result of one copy, waited for on the event loop; calls counts the done calls.
struct Copy {
    std::vector<OutputImage> images;
    int calls = 0;
};
Copy copyAll(OutputCopier& copier) {
    auto result = std::make_shared<Copy>();
    copier.copyOutputs({}, [result](std::vector<OutputImage> images) {
        result->images = std::move(images);
        ++result->calls;
    });
    waitUntil([&] { return result->calls > 0; }, 20000);
    QCoreApplication::processEvents();
    return *result;
}

// The session the test runs in; tests of the other desktops skip.
std::optional<Desktop> runningDesktop() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::nullopt;
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (desktop == QLatin1String("KDE"))
        return Desktop::KWin;
    if (desktop == QLatin1String("GNOME"))
        return Desktop::Gnome;
    return std::nullopt;
}

class DesktopSession : public ::testing::Test {
protected:
    void SetUp() override {
        if (!runningDesktop())
            GTEST_SKIP() << "needs the headless KWin or GNOME session (scripts/with-session --kwin, --gnome)";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
        ASSERT_EQ(sessionOutputs().size(), 1u);
    }
};

// An output's copy against the picture it shows: the same device pixels.
::testing::AssertionResult showsPicture(const QImage& copy, const QImage& picture) {
    if (copy.size() != picture.size())
        return ::testing::AssertionFailure()
               << "the copy has " << copy.width() << "x" << copy.height() << " pixels, the output "
               << picture.width() << "x" << picture.height();
    return showsPattern(copy, picture.rect());
}

// The helper's desktop entry as the build makes it, installed in the session's data folder (which KWin
// reads) for executable.
bool installHelperEntry(const QString& executable) {
    QFile built(QStringLiteral(GLIMRA_BUILD_DIR "/share/applications/app.glimra.GlimraHelper.desktop"));
    if (!built.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = built.readAll();
    const qsizetype exec = text.indexOf("\nExec=");
    if (exec < 0)
        return false;
    text.replace(exec, text.indexOf('\n', exec + 1) - exec, "\nExec=" + executable.toUtf8());
    const QString entry =
        qEnvironmentVariable("XDG_DATA_HOME") + "/applications/app.glimra.GlimraHelper.desktop";
    QDir().mkpath(QFileInfo(entry).path());
    // Written aside and renamed into place: KWin looks for new entries when the folder changes.
    QSaveFile installed(entry);
    return installed.open(QIODevice::WriteOnly) && installed.write(text) == text.size() && installed.commit();
}

// KWin hands ScreenShot2's pixels only to the executable a desktop entry names; the helper's entry as
// the build makes it is installed for this test program in the session's data folder, which KWin
// reads. Before that KWin refuses, and the copier turns to the portal for good.
template <Desktop only> class On : public DesktopSession {
protected:
    void SetUp() override {
        if (runningDesktop() != only)
            GTEST_SKIP() << "needs the headless " << (only == Desktop::KWin ? "KWin" : "GNOME") << " session";
        DesktopSession::SetUp();
    }
};
using KWin = On<Desktop::KWin>;
using Gnome = On<Desktop::Gnome>;

// The desktop the helper chooses here: the compositor's, copying through ScreenShot2 on KWin and the
// portal on GNOME, with no window to snap and the shortcuts through the portal.
TEST_F(DesktopSession, TheHelperTakesTheCompositorsDesktop) {
    const std::unique_ptr<glimra::Desktop> desktop = glimra::loadDesktopForQtPlatform();
    const bool kwin = runningDesktop() == Desktop::KWin;
    EXPECT_EQ(desktop->name(), kwin ? QStringLiteral("KWin") : QStringLiteral("GNOME"));
    EXPECT_EQ(desktop->capabilities(),
              (glimra::DesktopCapabilities{false, kwin, glimra::DesktopCapabilities::Shortcuts::Portal}));
}

TEST_F(KWin, ScreenShot2CopiesTheOutputForTheProgramItsEntryNames) {
    const PictureSurface picture;
    ASSERT_TRUE(picture.ok());
    const QString entry =
        qEnvironmentVariable("XDG_DATA_HOME") + "/applications/app.glimra.GlimraHelper.desktop";
    QFile::remove(entry);

    std::unique_ptr<OutputCopier> refused = makeOutputCopier();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->road(), QStringLiteral("kwin-screenshot2"));
    EXPECT_EQ(copyAll(*refused).calls, 1);
    EXPECT_EQ(refused->road(), QStringLiteral("portal"));

    ASSERT_TRUE(installHelperEntry(QCoreApplication::applicationFilePath()));

    // KWin reads new entries within a few seconds; each try has a copier of its own, since a refused
    // one stays with the portal.
    Copy copy;
    std::unique_ptr<OutputCopier> copier;
    ASSERT_TRUE(waitUntil(
        [&] {
            copier = makeKWinScreenShotCopier(WaylandConnection::connect());
            copy = copyAll(*copier);
            return !copy.images.empty();
        },
        15000))
        << "KWin never authorized this program";
    EXPECT_EQ(copier->road(), QStringLiteral("kwin-screenshot2"));
    EXPECT_EQ(copy.calls, 1);
    ASSERT_EQ(copy.images.size(), 1u);
    EXPECT_EQ(copy.images[0].name, QGuiApplication::primaryScreen()->name());
    EXPECT_TRUE(showsPicture(copy.images[0].image, picture.picture()));
}

// GNOME offers no screen-copy protocol: the portal's screenshot is the road.
TEST_F(Gnome, ThePortalCopiesTheMonitorPixelForPixel) {
    const PictureSurface picture;
    ASSERT_TRUE(picture.ok());
    std::unique_ptr<OutputCopier> copier = makeOutputCopier();
    ASSERT_TRUE(copier);
    EXPECT_EQ(copier->road(), QStringLiteral("portal"));
    const Copy copy = copyAll(*copier);
    EXPECT_EQ(copy.calls, 1);
    ASSERT_EQ(copy.images.size(), 1u);
    EXPECT_TRUE(showsPicture(copy.images[0].image, picture.picture()));
}

TEST_F(DesktopSession, ClicksAndKeysReachAWindow) {
    // Made first: the events that bring its devices to the seat must reach no window of the test's.
    std::unique_ptr<TestInput> input = sessionInput();
    ASSERT_TRUE(input->ok());
    InputWindow window;
    window.showFullScreen();
    ASSERT_TRUE(waitUntil([&] { return window.isExposed() && window.isActive(); }, 10000));
    ASSERT_TRUE(input->moveUntil(321, 234, [&] { return window.pointerIn; }));
    input->click(321, 234);
    EXPECT_TRUE(waitUntil([&] { return window.pressedAt != QPoint(-1, -1); }));
    EXPECT_EQ(window.pressedAt, QPoint(321, 234));
    input->tap(XK_a);
    input->type({XK_Shift_L}, XK_b);
    EXPECT_TRUE(waitUntil([&] { return window.keys.size() >= 3; }));
    EXPECT_EQ(window.keys, (QList<int>{Qt::Key_A, Qt::Key_Shift, Qt::Key_B}));
}

// The real helper, the test in the main application's place, over a full-screen picture: the full screen
// through whichever road the helper takes on the desktop, and a region dragged out with the desktop's
// own input and captured with Return, each in the output's device pixels.
class HelperOnDesktop : public HelperTest {
protected:
    void SetUp() override {
        if (!runningDesktop())
            GTEST_SKIP() << "needs the headless KWin or GNOME session (scripts/with-session --kwin, --gnome)";
        HelperTest::SetUp();
        picture = std::make_unique<PictureSurface>();
        ASSERT_TRUE(picture->ok());
        ASSERT_TRUE(waitUntil([&] { return picture->active(); }, 10000));
        ASSERT_TRUE(input->ok());
        if (runningDesktop() == Desktop::KWin) {
            ASSERT_TRUE(installHelperEntry(kHelperExecutable));
            // KWin takes the entry up within a few seconds; a helper that met a refusal stays with the
            // portal, which gives nothing on this KWin, and starts again.
            const QString refused = QStringLiteral("screenshots go through the desktop portal");
            ASSERT_TRUE(waitUntil(
                [&] {
                    main.reset();
                    mainApp.releaseName(kMainAppName);
                    stopHelper();
                    startAsMainApp();
                    return !waitUntil([&] { return helperOutput().contains(refused); }, 2500);
                },
                20000))
                << "KWin never authorized the helper\n"
                << helperOutput().toStdString();
        } else {
            ASSERT_NO_FATAL_FAILURE(startAsMainApp());
        }
    }

    std::unique_ptr<PictureSurface> picture;
    std::unique_ptr<TestInput> input = sessionInput();
};

TEST_F(HelperOnDesktop, FullScreenAndADraggedRegion) {
    main->send({{"id", 6}});
    const Screenshot full = screenshot(1);
    const SessionOutput output = sessionOutputs().front();
    EXPECT_TRUE(full.title.startsWith(QStringLiteral("Fullscreen "))) << full.title.toStdString();
    EXPECT_EQ(full.points, output.logical.size());
    EXPECT_TRUE(showsPicture(full.image, picture->picture()));

    main->send({{"id", 4}});
    // The overlay takes the keyboard from the picture as it shows.
    ASSERT_TRUE(waitUntil([&] { return !picture->active(); }, 10000)) << helperOutput().toStdString();
    pause(300);
    input->motion(100, 100);
    input->button(1, true);
    input->motion(250, 200);
    input->motion(400, 300);
    pause(150);
    input->button(1, false);
    pause(300); // the panel shows, with the keyboard
    input->tap(XK_Return);
    const Screenshot region = screenshot(2);
    EXPECT_TRUE(region.title.startsWith(QStringLiteral("Screenshot "))) << region.title.toStdString();
    EXPECT_EQ(region.points, QSize(300, 200));
    const QRect pixels = output.pixelsOf(QRect(100, 100, 300, 200));
    EXPECT_EQ(region.image.size(), pixels.size());
    EXPECT_TRUE(showsPattern(region.image, region.image.rect(), pixels.topLeft()));
}

} // namespace
