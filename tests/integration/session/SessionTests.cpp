// The test sessions themselves: clicks and keys reach full-screen windows in their own coordinates on
// every screen, the X11 and the Wayland session alike; on Wayland, in layouts of every kind, each output
// shows its wallpaper of known pixels as configured and a picture surface pixel for pixel, and the
// desktop portal takes screenshots.

#include "PictureSurface.h"
#include "TestInput.h"
#include "TestSupport.h"
#include "WaylandKit.h"
#include "XTestKit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QUrl>

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

using namespace glimra::test;

namespace {

// A full-screen window on one screen that writes down the presses it receives.
class RecordingWindow : public QRasterWindow {
public:
    explicit RecordingWindow(QScreen* screen) {
        // Qt picks a window's screen from its geometry too: it must lie on the screen.
        setScreen(screen);
        setGeometry(screen->geometry());
        setFlag(Qt::FramelessWindowHint);
        showFullScreen();
    }

    // "Qt's button number at x,y" in window coordinates; keys as Qt names them.
    std::vector<std::string> presses;
    bool moved = false;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkCyan); }
    void mouseMoveEvent(QMouseEvent*) override { moved = true; }
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint at = event->position().toPoint();
        presses.push_back(
            QStringLiteral("%1 at %2,%3").arg(int(event->button())).arg(at.x()).arg(at.y()).toStdString());
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Control && event->key() != Qt::Key_Shift)
            presses.push_back(QKeySequence(event->keyCombination()).toString().toStdString());
    }
};

// The portal's answer to a request, which it sends to the caller alone.
class PortalAnswer : public QObject {
    Q_OBJECT
public:
    bool received = false;
    uint code = ~0u;
    QVariantMap results;

public slots:
    void take(uint response, const QVariantMap& values) {
        received = true;
        code = response;
        results = values;
    }
};

} // namespace

TEST(SessionInput, ClicksAndKeysReachFullScreenWindowsInTheirCoordinatesOnEveryScreen) {
    const std::unique_ptr<TestInput> input = sessionInput();
    ASSERT_TRUE(input->ok());
    std::vector<std::unique_ptr<RecordingWindow>> windows;
    for (QScreen* screen : QGuiApplication::screens())
        windows.push_back(std::make_unique<RecordingWindow>(screen));
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(windows.begin(), windows.end(), [](auto& w) { return w->isExposed(); }); }));

    for (const auto& window : windows) {
        SCOPED_TRACE(window->screen()->name().toStdString());
        const QRect screen = window->screen()->geometry();
        // Until the compositor has made it full screen a new window may miss input: move the pointer
        // over it until it sees that.
        ASSERT_TRUE(waitUntil([&, step = 0]() mutable {
            input->motion(screen.center().x() + (++step % 2), screen.center().y());
            return window->moved;
        }));
        input->click(screen.x() + 17, screen.y() + 11);
        input->click(screen.right() - 2, screen.bottom() - 1, 3);
        // On X11 the keys typed next can reach the window before the clicks: let the clicks arrive first.
        waitUntil([&] { return window->presses.size() >= 2; });
        input->type({XK_Control_L, XK_Shift_L}, XK_6);
        input->tap(XK_Escape);
        const std::vector<std::string> expected{
            "1 at 17,11",
            QStringLiteral("2 at %1,%2").arg(screen.width() - 3).arg(screen.height() - 2).toStdString(),
            "Ctrl+Shift+^", "Esc"};
        waitUntil([&] { return window->presses.size() >= expected.size(); });
        EXPECT_EQ(window->presses, expected);
    }
}

struct Layout {
    const char* name;
    const char* entries; // with-session's --outputs grammar; empty: the session's own
};
class WaylandLayout : public ::testing::TestWithParam<Layout> {};

// In each layout Qt places its screens where GLIMRA_WAYLAND_OUTPUTS says, grim copies each output's
// device pixels, which show its wallpaper exactly at a whole scale, and a picture surface exactly at any.
TEST_P(WaylandLayout, OutputsShowWallpapersAndPicturesPixelForPixel) {
    if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
        GTEST_SKIP() << "needs the sway session";
    std::optional<SessionLayout> layout;
    const QString entries = QString::fromLatin1(GetParam().entries);
    if (!entries.isEmpty() && !SessionLayout::fits(entries))
        GTEST_SKIP() << "needs a session of as many outputs as " << GetParam().entries;
    if (!entries.isEmpty()) {
        ASSERT_TRUE(layout.emplace(entries).ok());
    }
    ASSERT_EQ(QGuiApplication::screens().size(), qsizetype(sessionOutputs().size()))
        << "one screen per output";
    // A program with a home of its own (and so a runtime folder of its own) reaches the compositor too.
    const IsolatedHome home;
    for (const SessionOutput& o : sessionOutputs()) {
        SCOPED_TRACE(o.name.toStdString());
        const QList<QScreen*> screens = QGuiApplication::screens();
        const auto screen = std::find_if(screens.begin(), screens.end(),
                                         [&](const QScreen* s) { return s->name() == o.name; });
        ASSERT_NE(screen, screens.end());
        EXPECT_EQ((*screen)->geometry(), o.logical);
        const QImage shown = outputImage(o.name, home.environment());
        EXPECT_EQ(shown.size(), o.pixels());
        if (o.scale == std::floor(o.scale)) {
            EXPECT_TRUE(showsNear(shown, wallpaper(o.name), QRegion(), 0));
        }
        const PictureSurface picture(o.name);
        ASSERT_TRUE(picture.ok());
        double last = 255;
        EXPECT_TRUE(waitUntil([&] {
            return (last = difference(outputImage(o.name), picture.picture())) == 0;
        })) << "mean difference "
            << last;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wayland, WaylandLayout,
    ::testing::Values(Layout{"SessionsOwn", ""},
                      Layout{"FractionalAndTurnedLeftAbove", "1920x1080@1.5 1280x720@2,90-360,-100"},
                      Layout{"FlippedAndAbove", "1920x1080@1.25,flipped-180 1280x720@1.25,270+1536,-300"}),
    caseName);

TEST(WaylandSession, ScreenshotPortalAnswersWithAFileWithoutADialog) {
    const QString desktop = QStringLiteral("org.freedesktop.portal.Desktop");
    const QString token = QStringLiteral("glimra_session_test");
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/") +
                            bus.baseService().mid(1).replace(u'.', u'_') + u'/' + token;
    PortalAnswer answer;
    ASSERT_TRUE(bus.connect(desktop, request, QStringLiteral("org.freedesktop.portal.Request"),
                            QStringLiteral("Response"), &answer, SLOT(take(uint, QVariantMap))));
    QDBusMessage call = QDBusMessage::createMethodCall(
        desktop, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("interactive"), false}, {QStringLiteral("handle_token"), token}};
    const QDBusMessage reply = bus.call(call);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_TRUE(waitUntil([&] { return answer.received; }, 20000));
    EXPECT_EQ(answer.code, 0u);
    const QString file = QUrl(answer.results.value(QStringLiteral("uri")).toString()).toLocalFile();
    // Read the header only: the whole layout at its finest scale can exceed what QImage loads by default.
    EXPECT_FALSE(QImageReader(file).size().isEmpty()) << "the portal answered " << file.toStdString();
    QFile::remove(file); // the portal leaves that to the caller
}

#include "SessionTests.moc"
