#pragma once
// The event monitor target: the pointer's movements and button presses anywhere on the desktop, over
// other applications' windows too and while another client holds a pointer grab, from the source the
// desktop offers (MouseEventSource.h). Handlers see kEventMouseDown, kEventMouseUp, kEventMouseMoved and
// kEventMouseDragged along Carbon's chain; the source watches only while a handler is installed, so an
// idle monitor costs nothing.

#include "EventHandlers.h"
#include "MouseEventSource.h"

#include <QObject>

#include <memory>

namespace carbon {

class MouseEventMonitor : public QObject {
    Q_OBJECT
public:
    // Over that source; where it is not available, installing a handler fails with eventInternalErr.
    // Events are delivered by the event loop of the thread that builds the source.
    explicit MouseEventMonitor(std::unique_ptr<glimra::MouseEventSource> source, QObject* parent = nullptr);
    ~MouseEventMonitor() override;
    MouseEventMonitor(const MouseEventMonitor&) = delete;
    MouseEventMonitor& operator=(const MouseEventMonitor&) = delete;

    // The monitor behind GetEventMonitorTarget(), over the desktop's source; destroyed with the
    // QCoreApplication.
    static MouseEventMonitor& application();

    EventTargetRef target() { return &m_target; }

private:
    void watch(bool on);
    void deliver(UInt32 kind);

    EventHandlerTable m_handlers{HandlerDelivery::Chain};
    OpaqueEventTargetRef m_target{&m_handlers, nullptr};
    std::unique_ptr<glimra::MouseEventSource> m_source;
    bool m_watching = false;
};

} // namespace carbon
