#pragma once
// What integration tests do and observe in the Wayland test session (scripts/with-session --wayland):
// keys and the pointer through virtual devices, each output's pixels as the compositor shows them,
// and the wallpaper of known pixels the session puts on each output.

#include "TestInput.h"
#include "TestSupport.h"

#include <QImage>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

namespace glimra::test {

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

// A headless sway of a test's own, with the configuration given and one output; its IPC socket lies at a
// path of its own, which a restart keeps (sway takes SWAYSOCK from its environment), so a program
// can find sway again after it restarted. Needs the Wayland test session's user (sway refuses root).
class PrivateSway {
public:
    explicit PrivateSway(QString config);
    bool start(); // false (with sway's output on stderr) when it did not come up
    void stop();  // SIGTERM, and waits for the end
    bool running() const { return sway_ && sway_->isRunning(); }
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

// What the output named name (as QScreen::name()) shows, in device pixels, copied by grim run in env;
// a null image when that fails.
QImage outputImage(const QString& name,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
// The wallpaper the session shows on that output, in device pixels.
QImage wallpaper(const QString& name);

} // namespace glimra::test
