#include "x11/X11MouseEvents.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::x11 {

using namespace carbon;

namespace {

// Wheel steps arrive as presses of buttons 4 to 7: they hold nothing down.
bool isWheel(uint32_t button) {
    return button >= 4 && button <= 7;
}

} // namespace

X11MouseEvents::X11MouseEvents(const QByteArray& displayName) {
    connection_ = connectToDisplay(displayName, "The mouse monitor is unavailable", &root_);
    if (!connection_)
        return;
    xcb_connection_t* connection = connection_.get();

    // Raw events reach a client during other clients' grabs only when it speaks XInput 2.1 or later.
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection, &xcb_input_id);
    Reply<xcb_input_xi_query_version_reply_t> version;
    if (xinput && xinput->present)
        version.reset(xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
    if (!version || version->major_version < 2 ||
        (version->major_version == 2 && version->minor_version < 1)) {
        qCWarning(lcHotKeys, "The mouse monitor is unavailable: the X server has no XInput 2.1");
        return;
    }
    xinputOpcode_ = xinput->major_opcode;

    if (!QCoreApplication::instance()) {
        qCWarning(lcHotKeys, "Mouse events will not be delivered: there is no QCoreApplication");
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

X11MouseEvents::~X11MouseEvents() {
    notifier_.reset();
}

void X11MouseEvents::start(Report report) {
    report_ = std::move(report);
    select(true);
}

void X11MouseEvents::stop() {
    report_ = nullptr;
    select(false);
}

void X11MouseEvents::select(bool on) {
    if (!available())
        return;
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                on ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                              XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE)
                   : 0u};
    xcb_input_xi_select_events(connection_.get(), root_, 1, &selection.head);
    xcb_flush(connection_.get());
    if (!on)
        buttons_ = 0;
}

void X11MouseEvents::readEvents() {
    xcb_connection_t* connection = connection_.get();
    if (!connection)
        return;
    // Whoever is told may stop the source, start it again, or run an event loop that lands here again:
    // the events read so far are reported from a copy of their kinds.
    std::vector<UInt32> kinds;
    bool moved = false;
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == 0) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event.get());
            qCWarning(lcHotKeys, "X error %d for request %d.%d", error->error_code, error->major_code,
                      error->minor_code);
            continue;
        }
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (type != XCB_GE_GENERIC || generic->extension != xinputOpcode_)
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
            kinds.push_back(buttons_ ? kEventMouseDragged : kEventMouseMoved);
        moved = false;
        if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            buttons_ |= 1u << button;
            kinds.push_back(kEventMouseDown);
        } else {
            buttons_ &= ~(1u << button);
            kinds.push_back(kEventMouseUp);
        }
    }
    if (moved)
        kinds.push_back(buttons_ ? kEventMouseDragged : kEventMouseMoved);
    if (xcb_connection_has_error(connection)) {
        qCWarning(lcHotKeys, "The X connection of the mouse monitor broke (error %d); it is off",
                  xcb_connection_has_error(connection));
        // Called from the notifier's own signal, so it is switched off here and deleted with the source.
        notifier_->setEnabled(false);
        xinputOpcode_ = 0;
    }
    const Report report = report_;
    if (report)
        for (const UInt32 kind : kinds)
            report(kind);
}

} // namespace glimra::x11
