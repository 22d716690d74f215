// The region capture with its resize panel, end to end (prints figures; not a test). This program is
// the main application (MainAppSide.h) and drives the real helper through XTest like a hand:
//  - Ctrl+Shift+5, a drag, and from letting go of the button until another X client sees the
//    MapNotify of the resize panel;
//  - a click on Capture (under the pointer) until the PNG of the selection is on the main
//    application's disk (the helper waits 0.1 s for its windows to leave the screen first);
//  - beside them, in the same rounds: message 6 until the full screen's PNG is on disk.
// Run inside a headless session, at 3840x2160 for the README's figures:
//   scripts/with-session --geometry 3840x2160x24 build/bench/region_capture_bench [--runs N] [--helper PATH]

#include "Hand.h"
#include "MainAppSide.h"

#include <QApplication>
#include <QScreen>

#include <X11/keysym.h>

using namespace benchmain;

namespace {

struct Figures {
    std::vector<double> values;
    void add(std::optional<double> v) {
        if (v)
            values.push_back(*v);
    }
    double slowest() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

void print(const char* what, const Figures& f) {
    if (f.values.empty())
        std::printf("  %-52s no figure\n", what);
    else
        std::printf("  %-52s median %6.1f ms, first %6.1f, slowest %6.1f (%zu runs)\n", what,
                    median(f.values), f.values.front(), f.slowest(), f.values.size());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const BenchOptions options = parseBenchOptions(app);
    const ScreenContent shown;
    const QSize size = shown.size();
    QTemporaryDir work;
    HelperUnderTest helper(work, options.helper);
    Hand hand;
    if (!helper.ready() || !hand.ok())
        return 1;
    pause(1500); // the helper readies its grab buffers and a resize panel a second after start-up

    // A selection of a quarter of the screen, ending where the panel has room.
    const QRect selection(size.width() / 6, size.height() / 6, size.width() / 2, size.height() / 2);
    const QPoint end = selection.topLeft() + QPoint(selection.width(), selection.height());
    Figures overlay, panel, region, fullScreen;
    // From `from` (ms) until the first window mapped after `since` that covers the screen (or not);
    // false when none came.
    const auto mapped = [&](Figures& figures, size_t since, double from, bool screenSized, const char* what) {
        const std::optional<double> at = hand.waitForMap(since, screenSized);
        if (!at)
            std::fprintf(stderr, "no %s\n", what);
        else
            figures.add(*at - from);
        return at.has_value();
    };
    double pixelsRight = 1;
    for (int i = 0; i < options.runs; ++i) {
        size_t since = hand.maps();
        hand.key(XK_Control_L, true);
        hand.key(XK_Shift_L, true);
        hand.key(XK_5, true);
        const double typed = nowMs();
        hand.key(XK_5, false);
        hand.key(XK_Shift_L, false);
        hand.key(XK_Control_L, false);
        if (!mapped(overlay, since, typed, true, "overlay"))
            continue;
        pause(300);

        hand.moveTo(selection.topLeft());
        hand.button(true);
        hand.moveTo(selection.center());
        hand.moveTo(end);
        pause(150);
        since = hand.maps();
        const double letGo = nowMs();
        hand.button(false);
        if (!mapped(panel, since, letGo, false, "resize panel"))
            continue;
        pause(300);

        // Capture acts when the button comes up.
        hand.button(true);
        pause(60);
        helper.peer.startTiming();
        hand.button(false);
        region.add(helper.peer.waitForSaved());
        if (i == 0)
            pixelsRight = sameShare(QImage(helper.peer.lastPath()), shown.image().copy(selection));
        helper.clearShots();
        pause(300);

        fullScreen.add(helper.peer.capture());
        helper.clearShots();
        pause(300);
    }

    std::printf("%dx%d, %d rounds, load average %.1f at the end\n", size.width(), size.height(), options.runs,
                loadAverage());
    print("first mouse-up -> resize panel mapped", panel);
    const QString regionLabel = QStringLiteral("Capture click -> PNG on disk, %1x%2%3")
                                    .arg(selection.width())
                                    .arg(selection.height())
                                    .arg(pixelsRight > 0.99 ? "" : " (WRONG PIXELS)");
    print(qPrintable(regionLabel), region);
    print("full screen: message 6 -> PNG on disk", fullScreen);
    print("(Ctrl+Shift+5 released -> overlay mapped)", overlay);
    std::printf("  Capture waits 0.1 s for the overlay and the panel to leave the screen before it grabs.\n");
    return panel.values.size() == size_t(options.runs) && region.values.size() == size_t(options.runs) ? 0
                                                                                                       : 1;
}
