#pragma once
// Where the event monitor target (MouseEventMonitor.h) gets the pointer's movements and button presses
// over the whole desktop: one source per display server, made by the desktop (Desktop.h).

#include "CarbonEvents.h"

#include <functional>

namespace glimra {

class MouseEventSource {
public:
    // kEventMouseDown, kEventMouseUp, kEventMouseMoved or kEventMouseDragged.
    using Report = std::function<void(carbon::UInt32 kind)>;

    virtual ~MouseEventSource() = default;

    // Whether it can report anything; where it cannot, installing a handler on the monitor fails with
    // eventInternalErr.
    virtual bool available() const = 0;
    // From now on reports every movement and button press, on the thread that built the source, until
    // stopped; only while a handler is installed, so that an idle monitor costs nothing. Moves are
    // kEventMouseDragged while a button is held, kEventMouseMoved otherwise; consecutive moves read at
    // once are reported once.
    virtual void start(Report report) = 0;
    virtual void stop() = 0;
};

// Where the process sees the pointer over its own windows only: handlers are taken and never called.
class NoMouseEvents final : public MouseEventSource {
public:
    bool available() const override { return true; }
    void start(Report) override {}
    void stop() override {}
};

} // namespace glimra
