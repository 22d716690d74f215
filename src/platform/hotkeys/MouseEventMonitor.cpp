#include "MouseEventMonitor.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace carbon {

namespace {

std::unique_ptr<MouseEventMonitor>& applicationMonitor() {
    static std::unique_ptr<MouseEventMonitor> monitor;
    return monitor;
}

// Runs while QCoreApplication is being destroyed, when its event dispatcher still exists for the
// socket notifier to leave cleanly.
void destroyApplicationMonitor() {
    applicationMonitor().reset();
}

// Wheel steps arrive as presses of buttons 4 to 7: they hold nothing down.
bool isWheel(uint32_t button) {
    return button >= 4 && button <= 7;
}

} // namespace

MouseEventMonitor& MouseEventMonitor::application() {
    auto& monitor = applicationMonitor();
    if (!monitor) {
        monitor = std::make_unique<MouseEventMonitor>();
        if (QCoreApplication::instance())
            qAddPostRoutine(destroyApplicationMonitor);
    }
    return *monitor;
}

MouseEventMonitor::MouseEventMonitor(const QByteArray& displayName, QObject* parent) : QObject(parent) {
    m_handlers.canInstall = [this] { return isAvailable() ? noErr : eventInternalErr; };
    m_handlers.installedCountChanged = [this](size_t installed) { select(installed > 0); };

    // Wayland shows no client the pointer outside its own windows, and an X display there is XWayland's,
    // which sees only X11 windows. The overlays cover every output, so their own windows see every
    // movement: handlers are accepted and never called.
    const auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (displayName.isEmpty() && gui &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        m_handlers.canInstall = [] { return OSStatus(noErr); };
        return;
    }
    m_connection = glimra::x11::connectToDisplay(displayName, "The mouse monitor is unavailable", &m_root);
    if (!m_connection)
        return;
    xcb_connection_t* connection = m_connection.get();

    // Raw events reach a client during other clients' grabs only when it speaks XInput 2.1 or later.
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection, &xcb_input_id);
    glimra::x11::Reply<xcb_input_xi_query_version_reply_t> version;
    if (xinput && xinput->present)
        version.reset(xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
    if (!version || version->major_version < 2 ||
        (version->major_version == 2 && version->minor_version < 1)) {
        qCWarning(lcHotKeys, "The mouse monitor is unavailable: the X server has no XInput 2.1");
        return;
    }
    m_xinputOpcode = xinput->major_opcode;

    if (!QCoreApplication::instance()) {
        qCWarning(lcHotKeys, "Mouse events will not be delivered: there is no QCoreApplication");
        return;
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &MouseEventMonitor::readEvents);
}

MouseEventMonitor::~MouseEventMonitor() {
    m_notifier.reset();
}

void MouseEventMonitor::select(bool on) {
    if (!isAvailable() || on == m_selected)
        return;
    m_selected = on;
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                on ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                              XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE)
                   : 0u};
    xcb_input_xi_select_events(m_connection.get(), m_root, 1, &selection.head);
    xcb_flush(m_connection.get());
    if (!on)
        m_buttons = 0;
}

void MouseEventMonitor::readEvents() {
    xcb_connection_t* connection = m_connection.get();
    if (!connection)
        return;
    // A handler may install or remove handlers, or run an event loop that lands here again: the
    // events read so far are delivered from a copy of their kinds.
    std::vector<UInt32> kinds;
    bool moved = false;
    while (glimra::x11::Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == 0) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event.get());
            qCWarning(lcHotKeys, "X error %d for request %d.%d", error->error_code, error->major_code,
                      error->minor_code);
            continue;
        }
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (type != XCB_GE_GENERIC || generic->extension != m_xinputOpcode)
            continue;
        if (generic->event_type == XCB_INPUT_RAW_MOTION) {
            moved = true;
            continue;
        }
        if (generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS &&
            generic->event_type != XCB_INPUT_RAW_BUTTON_RELEASE)
            continue;
        const uint32_t button =
            reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event.get())->detail;
        if (isWheel(button) || button >= 32)
            continue;
        // A move before the press is a move of the old button state.
        if (moved)
            kinds.push_back(m_buttons ? kEventMouseDragged : kEventMouseMoved);
        moved = false;
        if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            m_buttons |= 1u << button;
            kinds.push_back(kEventMouseDown);
        } else {
            m_buttons &= ~(1u << button);
            kinds.push_back(kEventMouseUp);
        }
    }
    if (moved)
        kinds.push_back(m_buttons ? kEventMouseDragged : kEventMouseMoved);
    if (xcb_connection_has_error(connection)) {
        qCWarning(lcHotKeys, "The X connection of the mouse monitor broke (error %d); it is off",
                  xcb_connection_has_error(connection));
        // Called from the notifier's own signal, so it is switched off here and deleted with the monitor.
        m_notifier->setEnabled(false);
        m_xinputOpcode = 0;
    }
    for (const UInt32 kind : kinds)
        deliver(kind);
}

void MouseEventMonitor::deliver(UInt32 kind) {
    OpaqueEventRef event{kEventClassMouse, kind, {}};
    m_handlers.dispatch(event);
}

} // namespace carbon
