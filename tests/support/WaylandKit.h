#pragma once
// What integration tests do and observe in the Wayland test session (scripts/with-session --wayland):
// keys and the pointer through virtual devices, each output's pixels as the compositor shows them,
// and the wallpaper of known pixels the session puts on each output.

#include "TestInput.h"
#include "TestSupport.h"
#include "wayland/SwayIpc.h"

#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

// How failed expectations print sizes and rectangles (found by argument-dependent lookup, beside Qt's).
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << "x" << s.height();
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.width() << "x" << r.height() << " at " << r.x() << "," << r.y();
}

namespace glimra::test {

// A Wayland proxy (or any C object) owned with the function that destroys it.
template <auto destroy> struct Deleter {
    template <typename T> void operator()(T* p) const { destroy(p); }
};
template <typename T, auto destroy> using Owned = std::unique_ptr<T, Deleter<destroy>>;

// A virtual keyboard (us layout unless another is named) and a virtual pointer on a connection of their
// own. Both live as long as the object: a new keyboard makes the compositor hand every client a new
// keymap.
class WaylandInput final : public TestInput {
public:
    explicit WaylandInput(const QString& display = QString(), // WAYLAND_DISPLAY when empty
                          const KeyboardLayoutName& layout = kKeyboardLayouts[0]);
    ~WaylandInput() override;
    WaylandInput(const WaylandInput&) = delete;
    WaylandInput& operator=(const WaylandInput&) = delete;

    bool ok() const override;
    void key(uint32_t keysym, bool press) override;
    void keyCode(uint32_t evdevCode, bool press) override;
    // Over the whole output layout, in logical coordinates.
    void motion(int x, int y) override;
    void button(uint8_t number, bool press) override;

private:
    struct Connection;
    std::unique_ptr<Connection> c_;
};

// The evdev code of the key that gives keysym at the lowest shift level of the us layout, as
// XKeysymToKeycode finds it (less the 8 that X adds); kNoKey when no key does.
constexpr uint32_t kNoKey = 0xffffffff;
uint32_t usEvdevCode(uint32_t keysym);
// The evdev code of pointer button 1, 2 or 3 (left, middle, right); 0, and a failure, for another.
uint32_t evdevButton(uint8_t number);

// Runs a command through sway's IPC: a failure that says what sway answered unless it carried out the
// first of its commands (a for_window rule, whose own answer comes first; what follows a comma in it runs
// at once on whatever has the focus, and may fail).
::testing::AssertionResult swayCommand(wayland::SwayIpc& ipc, const QString& command);
// The window of this process sway lists under title; with all, every window front to back as well.
std::optional<wayland::SwayWindow> ownSwayWindow(wayland::SwayIpc& ipc, const QString& title,
                                                 std::vector<wayland::SwayWindow>* all = nullptr);

// A headless sway of a test's own, with the configuration given and one output; its IPC socket lies at a
// path of its own, which a restart keeps (sway takes SWAYSOCK from its environment), so a program
// can find sway again after it restarted. Needs the Wayland test session's user (sway refuses root).
class PrivateSway {
public:
    explicit PrivateSway(QString config);
    bool start(); // false (with sway's output on stderr) when it did not come up
    void stop();  // SIGTERM, and waits for the end
    QString socketPath() const { return dir_.filePath(QStringLiteral("sway-ipc.sock")); }
    QString display() const { return display_; } // its WAYLAND_DISPLAY
    // The environment of a program run in it.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir dir_;
    QString config_;
    std::unique_ptr<Program> sway_;
    QString display_;
};

// One output of the test session as GLIMRA_WAYLAND_OUTPUTS describes it: NAME:ENTRY:POINTS, ENTRY in
// with-session's --outputs grammar with every part spelled out (HEADLESS-2:1280x720@2,normal+1920,0:640x360).
struct SessionOutput {
    QString name;
    QSize mode; // device pixels in the output's own orientation
    double scale = 1;
    QString transform; // sway's names: normal, 90, ..., flipped-270
    QRect logical;     // in the layout's points
    // The device pixels upright: the mode's sides swapped on outputs turned by 90 or 270 degrees.
    QSize pixels() const;
    // Where a rectangle of the layout's points lies in the output's upright device pixels.
    QRect pixelsOf(const QRect& points) const;
};
std::vector<SessionOutput> sessionOutputs();
// The session's output of that name; a failure, and an output of that name alone, when there is none.
SessionOutput sessionOutput(const QString& name);

// The running sway session in another layout of as many outputs (entries of with-session's --outputs
// grammar) for as long as the object lives: applied through sway's IPC by the session's own script,
// each output with its wallpaper, waited for until this process's screens show it, and
// GLIMRA_WAYLAND_OUTPUTS describing it meanwhile. The session's own layout comes back on destruction.
// ok() false (with a failure) when it could not be applied.
class SessionLayout {
public:
    explicit SessionLayout(const QString& entries);
    ~SessionLayout();
    SessionLayout(const SessionLayout&) = delete;
    SessionLayout& operator=(const SessionLayout&) = delete;
    bool ok() const { return ok_; }
    // Whether the session has as many outputs as the entries.
    static bool fits(const QString& entries);

private:
    bool apply(const QString& entries);
    QByteArray sessions_; // GLIMRA_WAYLAND_OUTPUTS before
    bool ok_ = false;
};

// What the output named name (as QScreen::name()) shows, in device pixels, copied by grim run in env;
// a null image when that fails.
QImage outputImage(const QString& name,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
// The wallpaper the session shows on that output, in its upright device pixels. Only at a whole scale
// does the output show it pixel for pixel; at a fractional one it is resampled: compare with
// outputImage() there (shownPicture() picks).
QImage wallpaper(const QString& name);
// What the output shows of its wallpaper: the wallpaper where the output shows it pixel for pixel, else
// what the output shows now.
QImage shownPicture(const QString& name);
// What the output shows now in its own device pixels: grim's picture, or where grim resamples the output
// (a scale that divides its mode unevenly, 1.75), the output's buffer as the screen-copy road copies it.
QImage outputPixels(const QString& name);

} // namespace glimra::test
