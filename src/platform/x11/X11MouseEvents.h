#pragma once
// The pointer's movements and button presses anywhere on an X11 desktop, over other applications'
// windows too and while another client holds a pointer grab: raw XInput 2 events of the master
// pointers, selected on the root window of a private xcb connection; version 2.1 or later delivers them
// whatever grabs are active. Raw events carry no position: whoever is told asks for the pointer's
// location itself.

#include "hotkeys/MouseEventSource.h"
#include "x11/XConnection.h"

#include <QByteArray>

#include <memory>

class QSocketNotifier;

namespace glimra::x11 {

class X11MouseEvents final : public MouseEventSource {
public:
    // Connects to displayName, or to $DISPLAY when it is empty; unavailable (with a log line) without
    // a display or XInput 2.1.
    explicit X11MouseEvents(const QByteArray& displayName = {});
    ~X11MouseEvents() override;
    X11MouseEvents(const X11MouseEvents&) = delete;
    X11MouseEvents& operator=(const X11MouseEvents&) = delete;

    bool available() const override { return connection_ != nullptr && xinputOpcode_ != 0; }
    void start(Report report) override;
    void stop() override;

private:
    void select(bool on);
    void readEvents();

    XConnection connection_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Report report_;
    uint32_t root_ = 0;
    uint8_t xinputOpcode_ = 0;
    // Buttons held on the master pointer, one bit per button number.
    uint32_t buttons_ = 0;
};

} // namespace glimra::x11
