#include "x11/X11HotKeys.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <set>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::x11 {

using namespace carbon;
using hotkeys::Keycode;
using hotkeys::Keysym;

namespace {

// Every key and modifier mask a hot key's grab holds: one per key and lock state.
using Combinations = std::set<std::pair<Keycode, uint16_t>>;
Combinations combinations(const std::vector<Keycode>& keycodes, uint16_t modifiers,
                          const hotkeys::ModifierLayout& layout) {
    Combinations all;
    for (Keycode keycode : keycodes)
        for (uint16_t mask : hotkeys::lockVariants(modifiers, layout))
            all.insert({keycode, mask});
    return all;
}

} // namespace

void X11HotKeys::FreeKeySymbols::operator()(_XCBKeySymbols* symbols) const {
    xcb_key_symbols_free(symbols);
}

void X11HotKeys::FreeContext::operator()(xkb_context* context) const {
    xkb_context_unref(context);
}

std::unique_ptr<X11HotKeys> X11HotKeys::make(const QByteArray& displayName) {
    uint32_t root = 0;
    XConnection connection = connectToDisplay(displayName, "Hot keys are unavailable", &root);
    return connection ? std::unique_ptr<X11HotKeys>(new X11HotKeys(std::move(connection), root)) : nullptr;
}

X11HotKeys::X11HotKeys(XConnection xConnection, uint32_t root)
    : m_connection(std::move(xConnection)), m_root(root) {
    setObjectName(QStringLiteral("X11 key grabs"));
    m_processLater.setSingleShot(true);
    m_processLater.setInterval(0);
    QObject::connect(&m_processLater, &QTimer::timeout, this, [this] {
        if (!m_connection)
            return;
        readEvents();
        processPending();
    });
    xcb_connection_t* connection = m_connection.get();

    // A held key should fire once. The core protocol reports it as release and press pairs; XKB can
    // report it as repeated presses instead, which is what the matcher expects.
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (xkb && xkb->present) {
        Reply<xcb_xkb_use_extension_reply_t> use(
            xcb_xkb_use_extension_reply(connection, xcb_xkb_use_extension(connection, 1, 0), nullptr));
        if (use && use->supported) {
            Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
                connection,
                xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
                nullptr));
            m_detectableAutoRepeat = flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
            Reply<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(
                connection, xcb_xkb_get_state(connection, XCB_XKB_ID_USE_CORE_KBD), nullptr));
            if (state)
                m_coreKeyboard = state->deviceID;
            // Once a client uses XKB, the server sends it the core MappingNotify only for the map parts
            // it selected XKB notifications for, and never for a whole new keymap (setxkbmap). A switch
            // to another layout of the keymap (its group) changes only how the keys are named.
            const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                    XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
            const uint16_t parts =
                XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
            xcb_xkb_select_events_details_t details{};
            details.affectState = details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
            xcb_xkb_select_events_aux(connection, XCB_XKB_ID_USE_CORE_KBD, events, 0,
                                      XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY, parts, parts, &details);
            m_xkbEventBase = xkb->first_event;
            m_xkbContext.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        }
    }
    if (!m_detectableAutoRepeat)
        qCInfo(lcHotKeys, "The X server has no detectable auto-repeat; held hot keys are told apart by "
                          "their time stamps");

    loadKeyboard();
    setLayout(readLayout());

    if (!QCoreApplication::instance()) {
        qCWarning(lcHotKeys, "Hot keys will not be delivered: there is no QCoreApplication");
        return;
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        readEvents();
        processPending();
    });
    scheduleProcessing();
}

X11HotKeys::~X11HotKeys() {
    m_notifier.reset();
    if (m_connection) {
        // The grabs would go with the connection anyway; this keeps them from outliving it by a
        // round trip when the connection is shared with nothing else.
        xcb_ungrab_key(m_connection.get(), XCB_GRAB_ANY, m_root, XCB_MOD_MASK_ANY);
        xcb_flush(m_connection.get());
    }
}

OSStatus X11HotKeys::add(Token token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID) {
    if (!m_connection) {
        qCWarning(lcHotKeys, "Hot key: the X connection for hot keys broke earlier");
        return eventInternalErr;
    }
    const uint16_t xModifiers = *hotkeys::xModifiersFromCarbon(modifiers, m_layout);
    std::vector<Keycode> keycodes = keycodesFor(keyCode);
    const QString name = hotkeys::describeHotKey(keyCode, modifiers, layout());
    if (keycodes.empty()) {
        qCWarning(lcHotKeys, "Hot key: the keyboard has no key for %s", qPrintable(name));
        return eventHotKeyInvalidErr;
    }
    if (m_matcher.conflicts(keycodes, xModifiers)) {
        qCWarning(lcHotKeys, "Hot key: %s shares its keys with a registered hot key", qPrintable(name));
        return eventHotKeyExistsErr;
    }
    if (const OSStatus status = grab(keycodes, xModifiers); status != noErr) {
        if (status == eventHotKeyExistsErr)
            qCWarning(lcHotKeys, "Hot key: another X client holds %s", qPrintable(name));
        return status;
    }
    m_grabs[token] = Grab{keyCode, modifiers, keycodes, xModifiers};
    m_matcher.bind(token, std::move(keycodes), xModifiers);
    return noErr;
}

void X11HotKeys::remove(Token token) {
    const auto it = m_grabs.find(token);
    if (it == m_grabs.end())
        return;
    if (m_connection)
        ungrab(it->second);
    m_matcher.unbind(token);
    m_grabs.erase(it);
}

void X11HotKeys::loadKeyboard() {
    xcb_connection_t* connection = m_connection.get();
    m_keySymbols.reset(xcb_key_symbols_alloc(connection));
    Reply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    std::vector<std::vector<Keycode>> rows(8);
    if (map) {
        const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(map.get());
        const int perModifier = map->keycodes_per_modifier;
        for (int row = 0; row < 8; ++row)
            rows[size_t(row)].assign(keycodes + row * perModifier, keycodes + (row + 1) * perModifier);
    }
    m_layout = hotkeys::modifierLayoutFromMap(rows, [this](Keycode keycode) {
        std::vector<Keysym> keysyms;
        for (int column = 0; column < 4; ++column)
            if (Keysym keysym = xcb_key_symbols_get_keysym(m_keySymbols.get(), keycode, column))
                keysyms.push_back(keysym);
        return keysyms;
    });
}

hotkeys::KeyboardLayout X11HotKeys::readLayout() {
    xcb_connection_t* connection = m_connection.get();
    if (!m_xkbContext)
        return hotkeys::KeyboardLayout();
    const int32_t device = m_coreKeyboard ? m_coreKeyboard : xkb_x11_get_core_keyboard_device_id(connection);
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_x11_keymap_new_from_device(m_xkbContext.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap) {
        qCWarning(lcHotKeys,
                  "The X server's keymap cannot be read: the hot keys are placed as on a US keyboard");
        return hotkeys::KeyboardLayout();
    }
    std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(
        xkb_x11_state_new_from_device(keymap.get(), connection, device), &xkb_state_unref);
    // Reading the keymap waited for replies, behind which events may wait.
    scheduleProcessing();
    return hotkeys::KeyboardLayout(
        keymap.get(), state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0);
}

std::vector<Keycode> X11HotKeys::keycodesFor(UInt32 keyCode) const {
    const uint32_t keycode = layout().keycode(keyCode);
    if (keycode < 8 || keycode > 255)
        return {};
    return {Keycode(keycode)};
}

OSStatus X11HotKeys::grab(const std::vector<Keycode>& keycodes, uint16_t modifiers) {
    xcb_connection_t* connection = m_connection.get();
    struct Request {
        xcb_void_cookie_t cookie;
        Keycode keycode;
        uint16_t modifiers;
    };
    std::vector<Request> requests;
    for (Keycode keycode : keycodes)
        for (uint16_t mask : hotkeys::lockVariants(modifiers, m_layout))
            requests.push_back({xcb_grab_key_checked(connection, 0, m_root, mask, keycode,
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                keycode, mask});
    uint8_t failure = 0;
    std::vector<const Request*> held;
    for (const Request& request : requests) {
        if (Reply<xcb_generic_error_t> error{xcb_request_check(connection, request.cookie)}) {
            if (!failure)
                failure = error->error_code;
        } else {
            held.push_back(&request);
        }
    }
    // A hot key works with every lock state or not at all.
    if (failure)
        for (const Request* request : held)
            xcb_ungrab_key(connection, request->keycode, m_root, request->modifiers);
    xcb_flush(connection);
    // Waiting for the replies may have queued events the socket notifier will not report again.
    scheduleProcessing();
    if (xcb_connection_has_error(connection))
        return eventInternalErr;
    if (failure == XCB_ACCESS)
        return eventHotKeyExistsErr;
    return failure ? eventInternalErr : noErr;
}

void X11HotKeys::ungrab(const Grab& grab) {
    for (Keycode keycode : grab.keycodes)
        for (uint16_t mask : hotkeys::lockVariants(grab.xModifiers, m_layout))
            xcb_ungrab_key(m_connection.get(), keycode, m_root, mask);
    xcb_flush(m_connection.get());
}

void X11HotKeys::grabAgain() {
    const hotkeys::ModifierLayout before = m_layout;
    loadKeyboard();
    setLayout(readLayout());
    // Notifications also come for changes that move no hot key (a client setting up XKB, a keyboard of
    // the same layout plugged in): those grabs stay as they are. A moved hot key is grabbed at its new
    // keys before the old ones go, so that no press in between falls through to the focused window.
    for (auto& [token, hotKey] : m_grabs) {
        const uint16_t xModifiers = *hotkeys::xModifiersFromCarbon(hotKey.modifiers, m_layout);
        std::vector<Keycode> keycodes = keycodesFor(hotKey.keyCode);
        const Combinations held = combinations(hotKey.keycodes, hotKey.xModifiers, before);
        Combinations wanted = combinations(keycodes, xModifiers, m_layout);
        if (held == wanted)
            continue;
        if (keycodes.empty() || grab(keycodes, xModifiers) != noErr) {
            qCWarning(lcHotKeys, "Hot key %s stays inactive with the new keyboard mapping",
                      qPrintable(hotkeys::describeHotKey(hotKey.keyCode, hotKey.modifiers, layout())));
            keycodes.clear();
            wanted.clear();
        }
        for (const auto& [keycode, mask] : held)
            if (!wanted.count({keycode, mask}))
                xcb_ungrab_key(m_connection.get(), keycode, m_root, mask);
        hotKey.keycodes = keycodes;
        hotKey.xModifiers = xModifiers;
        // Bound, not unbound, when inactive: a key held across the change still sends its release.
        m_matcher.bind(token, std::move(keycodes), xModifiers);
    }
    xcb_flush(m_connection.get());
    emit keyboardMappingApplied();
}

void X11HotKeys::readEvents() {
    xcb_connection_t* connection = m_connection.get();
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            m_pending.push_back({false, {type == XCB_KEY_PRESS, key->detail, key->state, key->time}});
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto* mapping = reinterpret_cast<const xcb_mapping_notify_event_t*>(event.get());
            if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER)
                m_pending.push_back({true, {}});
        } else if (m_xkbEventBase >= 0 && type == m_xkbEventBase) {
            // XKB events keep their own type in the second byte. Slave keyboards report their own
            // changes too; the grabs follow the core keyboard's.
            const auto* notify = reinterpret_cast<const xcb_xkb_map_notify_event_t*>(event.get());
            if (notify->deviceID != m_coreKeyboard)
                continue;
            if (notify->xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || notify->xkbType == XCB_XKB_MAP_NOTIFY) {
                m_pending.push_back({true, {}});
            } else if (notify->xkbType == XCB_XKB_STATE_NOTIFY) {
                const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event.get());
                if (state->group != layout().activeLayout())
                    setLayout(hotkeys::KeyboardLayout(layout().keymap(), state->group));
            }
        } else if (type == 0) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event.get());
            qCWarning(lcHotKeys, "X error %d for request %d.%d", error->error_code, error->major_code,
                      error->minor_code);
        }
    }
    if (xcb_connection_has_error(connection))
        connectionLost();
}

void X11HotKeys::scheduleProcessing() {
    if (m_notifier && m_connection)
        m_processLater.start();
}

// Handlers may run a nested event loop that lands here again; taking one event at a time off the
// shared queue keeps the order either way.
void X11HotKeys::processPending() {
    while (!m_pending.empty()) {
        const Pending item = m_pending.front();
        m_pending.pop_front();
        if (item.mappingChanged) {
            // One change arrives as a burst of notifications; one new set of grabs serves them all.
            while (!m_pending.empty() && m_pending.front().mappingChanged)
                m_pending.pop_front();
            if (m_connection)
                grabAgain();
            continue;
        }
        if (item.key.press) {
            const uint16_t modifiers = hotkeys::significantModifiers(item.key.state, m_layout);
            if (const auto token = m_matcher.press(item.key.keycode, modifiers))
                emit hotKey(*token, kEventHotKeyPressed);
            continue;
        }
        if (!m_detectableAutoRepeat) {
            if (m_pending.empty() && m_connection)
                readEvents();
            if (!m_pending.empty() && !m_pending.front().mappingChanged &&
                hotkeys::isAutoRepeatPair(item.key, m_pending.front().key)) {
                m_pending.pop_front();
                continue;
            }
        }
        if (const auto token = m_matcher.release(item.key.keycode))
            emit hotKey(*token, kEventHotKeyReleased);
    }
}

void X11HotKeys::connectionLost() {
    qCWarning(lcHotKeys, "The X connection for hot keys broke (error %d); hot keys are off",
              xcb_connection_has_error(m_connection.get()));
    // Called from the notifier's own signal, so it is switched off here and deleted with the backend.
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_pending.clear();
    m_keySymbols.reset();
    m_connection.reset();
}

} // namespace glimra::x11
