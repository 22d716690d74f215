// The full-screen capture on a desktop of two screens: the real helper on an X server of the test's
// own, split into two RandR monitors, images the screen under the pointer and nothing else.

#include "HelperLink.h"
#include "PrivateDisplay.h"

using namespace xpc;
using namespace glimra::test;

namespace {

struct Monitor {
    const char* name; // a leading * makes it the primary
    QRect rect;       // root pixels
};

struct Layout {
    const char* name;
    QSize root;
    Monitor first, second;
    // Where the pointer goes, and the monitor (0 first, 1 second) whose pixels the capture must show.
    std::vector<std::pair<QPoint, int>> probes;
    // Qt's scale on every screen, set as a desktop sets it (PrivateDisplay::scaleQt).
    const char* scaling = nullptr;
    qreal scale = 1;
};

QString monitor(const Monitor& m) {
    return QString::asprintf("%s %dx%d+%d+%d", m.name, m.rect.width(), m.rect.height(), m.rect.x(),
                             m.rect.y());
}

class TwoScreens : public HelperTest, public ::testing::WithParamInterface<Layout> {};

} // namespace

TEST_P(TwoScreens, FullScreenCaptureImagesTheScreenUnderThePointer) {
    const Layout& layout = GetParam();
    PrivateDisplay display(layout.root);
    ASSERT_FALSE(display.name().isEmpty()) << "Xvfb did not start";
    ASSERT_TRUE(display.monitors({monitor(layout.first), monitor(layout.second)}));
    QProcessEnvironment env;
    if (layout.scaling) {
        ASSERT_TRUE(display.scaleQt(QString::fromLatin1(layout.scaling), env));
    }
    for (const QString& name : env.keys())
        home.setVariable(name, env.value(name));

    XClient x(display.name());
    ASSERT_TRUE(x.ok());
    const QImage desktop = patternImage(layout.root);
    x.cover(desktop);
    home.setVariable("DISPLAY", display.name());
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());

    size_t shots = 0;
    for (const auto& [pointer, monitor] : layout.probes) {
        x.warpPointer(pointer.x(), pointer.y());
        const QRect expected = monitor == 0 ? layout.first.rect : layout.second.rect;
        main->send({{"id", 6}});
        const Screenshot shot = screenshot(++shots);
        EXPECT_EQ(shot.points, (QSizeF(expected.size()) / layout.scale).toSize());
        EXPECT_TRUE(shot.image == desktop.copy(expected))
            << "pointer at " << pointer.x() << "," << pointer.y() << " should capture monitor " << monitor;
    }
}

// The left and bottom edges of a screen belong to it in screen coordinates (y up); in root pixels
// that makes x = 1920 the right screen, and row 1080, the bottom edge of the upper screen, the upper one.
INSTANTIATE_TEST_SUITE_P(
    Capture, TwoScreens,
    ::testing::Values(Layout{"PrimaryLeft",
                             {3840, 1080},
                             {"*LEFT", {0, 0, 1920, 1080}},
                             {"RIGHT", {1920, 0, 1920, 1080}},
                             {{{5, 540}, 0}, {{1919, 540}, 0}, {{1920, 540}, 1}, {{3839, 1079}, 1}}},
                      // The left screen lies at negative x in global display coordinates.
                      Layout{"PrimaryRight",
                             {3840, 1080},
                             {"LEFT", {0, 0, 1920, 1080}},
                             {"*RIGHT", {1920, 0, 1920, 1080}},
                             {{{1919, 540}, 0}, {{1920, 540}, 1}, {{0, 1079}, 0}, {{2500, 1079}, 1}}},
                      Layout{"Stacked",
                             {1920, 2160},
                             {"*TOP", {0, 0, 1920, 1080}},
                             {"BOTTOM", {0, 1080, 1920, 1080}},
                             {{{960, 1079}, 0}, {{960, 1080}, 0}, {{960, 1081}, 1}, {{0, 2159}, 1}}},
                      // A 1920 x 1080 panel that RandR scales by 1.5 shows 2880 x 1620 of the root; the
                      // desktop's 144 dpi puts one and a half pixels in a point on both screens.
                      Layout{"RandRScaledBesideAPlainOneAtOneAndAHalf",
                             {4800, 1620},
                             {"*LEFT", {0, 0, 2880, 1620}},
                             {"RIGHT", {2880, 0, 1920, 1080}},
                             {{{5, 1619}, 0}, {{2879, 10}, 0}, {{2880, 540}, 1}, {{4799, 1079}, 1}},
                             "Xft.dpi=144",
                             1.5}),
    caseName);
