#pragma once
// The event monitor target: the pointer's movements and button presses anywhere on the desktop, over
// other applications' windows too and while another client holds a pointer grab.
//
// Raw XInput 2 events of the master pointers, selected on the root window of a private xcb
// connection; version 2.1 or later delivers them whatever grabs are active. Raw events carry no
// position: a handler asks for the pointer's location itself. Moves are reported as
// kEventMouseDragged while a button is held, kEventMouseMoved otherwise, and consecutive moves read
// in one batch are reported once. The events are selected only while a handler is installed, so an
// idle monitor costs nothing.

#include "EventHandlers.h"
#include "x11/XConnection.h"

#include <QByteArray>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace carbon {

class MouseEventMonitor : public QObject {
    Q_OBJECT
public:
    // Connects to displayName, or to $DISPLAY when it is empty. Without a display or XInput 2.1,
    // installing a handler fails with eventInternalErr. Under Qt's Wayland platform, with no name given,
    // handlers are accepted and never called. Events are delivered by the event loop of the
    // thread that builds the monitor.
    explicit MouseEventMonitor(const QByteArray& displayName = {}, QObject* parent = nullptr);
    ~MouseEventMonitor() override;
    MouseEventMonitor(const MouseEventMonitor&) = delete;
    MouseEventMonitor& operator=(const MouseEventMonitor&) = delete;

    // The monitor behind GetEventMonitorTarget(); destroyed with the QCoreApplication.
    static MouseEventMonitor& application();

    EventTargetRef target() { return &m_target; }
    bool isAvailable() const { return m_connection != nullptr && m_xinputOpcode != 0; }

private:
    void select(bool on);
    void readEvents();
    void deliver(UInt32 kind);

    EventHandlerTable m_handlers{HandlerDelivery::Chain};
    OpaqueEventTargetRef m_target{&m_handlers, nullptr};
    glimra::x11::XConnection m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    uint32_t m_root = 0;
    uint8_t m_xinputOpcode = 0;
    bool m_selected = false;
    // Buttons held on the master pointer, one bit per button number.
    uint32_t m_buttons = 0;
};

} // namespace carbon
