#include "wayland/SwayHotKeys.h"

#include "hotkeys/HotKeyNames.h"
#include "wayland/WaylandConnection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::wayland {

using namespace carbon;

namespace {

constexpr uint32_t kWorkspaceEvent = SwayIpc::kEventBit | 0;
constexpr uint32_t kBindingEvent = SwayIpc::kEventBit | 5;
constexpr uint32_t kInputEvent = SwayIpc::kEventBit | 21;
constexpr int kFirstRetryMs = 500;
constexpr int kLastRetryMs = 8000;

// The layout active on sway's keyboards, from an input as get_inputs and input events describe it.
std::optional<uint32_t> activeLayoutOf(const QJsonObject& input) {
    const QJsonValue index = input.value(QLatin1String("xkb_active_layout_index"));
    if (input.value(QLatin1String("type")).toString() != QLatin1String("keyboard") || !index.isDouble())
        return std::nullopt;
    return uint32_t(index.toInt());
}

} // namespace

std::unique_ptr<SwayHotKeys> SwayHotKeys::make(const QString& socketPath, const QString& waylandDisplay) {
    return make(socketPath, [waylandDisplay]() -> std::shared_ptr<WaylandConnection> {
        return WaylandConnection::connect(waylandDisplay);
    });
}

std::unique_ptr<SwayHotKeys> SwayHotKeys::make(ConnectSeat seat) {
    return make(QString(), std::move(seat));
}

std::unique_ptr<SwayHotKeys> SwayHotKeys::make(const QString& socketPath, ConnectSeat seat) {
    std::unique_ptr<SwayHotKeys> backend(
        new SwayHotKeys(socketPath.isEmpty() ? qEnvironmentVariable("SWAYSOCK") : socketPath));
    if (!backend->open()) {
        qCWarning(lcHotKeys, "Hot keys are unavailable: sway's IPC does not answer");
        return nullptr;
    }
    backend->m_seat = std::move(seat);
    backend->connectKeyboard();
    std::optional<uint32_t> active;
    if (const std::optional<QJsonDocument> inputs = backend->m_ipc->request(SwayIpc::GetInputs))
        for (const QJsonValue input : inputs->array())
            if ((active = activeLayoutOf(input.toObject())))
                break;
    backend->followLayout(active.value_or(0));
    return backend;
}

void SwayHotKeys::connectKeyboard() {
    m_keyboard = WaylandKeyboard::connect(m_seat());
    if (m_keyboard)
        m_keyboard->setKeymapChanged([this] { followLayout(); });
}

void SwayHotKeys::followLayout(std::optional<uint32_t> activeLayout) {
    const uint32_t active = activeLayout.value_or(layout().activeLayout());
    setLayout(hotkeys::KeyboardLayout(m_keyboard ? m_keyboard->keymap() : nullptr, active));
}

SwayHotKeys::SwayHotKeys(QString socketPath)
    : m_path(std::move(socketPath)), m_tag(QStringLiteral("glimra-helper-%1").arg(getpid())) {
    setObjectName(QStringLiteral("sway's bindings"));
    m_processLater.setSingleShot(true);
    m_processLater.setInterval(0);
    QObject::connect(&m_processLater, &QTimer::timeout, this, [this] {
        if (m_ipc)
            for (SwayMessage& message : m_ipc->takeEvents())
                m_pending.push_back(std::move(message));
        processPending();
    });
    m_retry.setSingleShot(true);
    m_retry.setInterval(kFirstRetryMs);
    QObject::connect(&m_retry, &QTimer::timeout, this, &SwayHotKeys::reconnect);
}

SwayHotKeys::~SwayHotKeys() {
    m_retry.stop();
    // A connection that broke may have left sway running with the bindings: one more try to take
    // them away.
    if (!m_bindings.empty() && !m_ipc && QFileInfo::exists(m_path))
        m_ipc = SwayIpc::connect(m_path);
    for (const auto& [token, binding] : m_bindings)
        unbind(binding);
    close();
}

bool SwayHotKeys::open() {
    m_ipc = SwayIpc::connect(m_path);
    if (!m_ipc)
        return false;
    const std::optional<QJsonDocument> subscribed =
        m_ipc->request(SwayIpc::Subscribe, QByteArrayLiteral("[\"binding\",\"workspace\",\"input\"]"));
    const std::optional<QJsonDocument> config = m_ipc->request(SwayIpc::GetConfig);
    if (!subscribed || !subscribed->object().value(QLatin1String("success")).toBool() || !config) {
        qCWarning(lcHotKeys, "sway's IPC at \"%s\" takes no subscription to its binding events",
                  qPrintable(m_path));
        close();
        return false;
    }
    m_userBindings =
        swayConfigBindings(config->object().value(QLatin1String("config")).toString(), readSwayIncludes);
    if (QCoreApplication::instance()) {
        m_notifier = new QSocketNotifier(m_ipc->socketDescriptor(), QSocketNotifier::Read, this);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, &SwayHotKeys::readEvents);
    }
    scheduleProcessing();
    return true;
}

void SwayHotKeys::close() {
    // Possibly called from the notifier's own signal: switched off now, deleted once that is over.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    m_ipc.reset();
}

bool SwayHotKeys::run(const QString& command) {
    if (!m_ipc)
        return false;
    const std::optional<QJsonDocument> reply = m_ipc->request(SwayIpc::RunCommand, command.toUtf8());
    // Events that came with the reply wait in the connection's queue.
    scheduleProcessing();
    if (!reply) {
        connectionLost();
        return false;
    }
    const QJsonObject result = reply->array().at(0).toObject();
    if (!result.value(QLatin1String("success")).toBool()) {
        qCWarning(lcHotKeys, "sway refused \"%s\": %s", qPrintable(command),
                  qPrintable(result.value(QLatin1String("error")).toString()));
        return false;
    }
    return true;
}

bool SwayHotKeys::bind(const Binding& binding) {
    if (!run(QStringLiteral("bindcode %1 %2").arg(binding.keys, binding.pressed)))
        return false;
    if (run(QStringLiteral("bindcode --release %1 %2").arg(binding.keys, binding.released)))
        return true;
    run(QStringLiteral("unbindcode %1").arg(binding.keys));
    return false;
}

void SwayHotKeys::unbind(const Binding& binding) {
    // sway answers an error when a reload took the binding already; nothing is lost then.
    for (const QString& command :
         {QStringLiteral("unbindcode %1"), QStringLiteral("unbindcode --release %1")})
        if (m_ipc && !m_ipc->broken())
            m_ipc->request(SwayIpc::RunCommand, command.arg(binding.keys).toUtf8());
}

bool SwayHotKeys::heldByUser(UInt32 keyCode, UInt32 modifiers) const {
    using hotkeys::keysymName;
    using hotkeys::swayBinding;
    // What sway would run for the key: a binding of its code, of its plain symbol with every modifier,
    // or of the symbol a Shift that picks another level gives, less that Shift (on a US keyboard
    // Ctrl+percent fires on Ctrl+Shift+5, on a French one Ctrl+5 does).
    const hotkeys::KeyboardLayout& keys = layout();
    std::vector<std::optional<SwayKeys>> candidates{
        parseSwayKeys(swayBinding(modifiers, QString::number(keys.keycode(keyCode))), true),
        parseSwayKeys(swayBinding(modifiers, keysymName(keys.keysym(keyCode, 0))))};
    if (const std::optional<hotkeys::Keysym> shifted = keys.shiftedKeysym(keyCode);
        shifted && (modifiers & shiftKey))
        candidates.push_back(parseSwayKeys(swayBinding(modifiers & ~shiftKey, keysymName(*shifted))));
    for (const std::optional<SwayKeys>& candidate : candidates)
        if (candidate &&
            std::find(m_userBindings.begin(), m_userBindings.end(), *candidate) != m_userBindings.end())
            return true;
    return false;
}

OSStatus SwayHotKeys::add(Token token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID id) {
    const QString name = hotkeys::describeHotKey(keyCode, modifiers, layout());
    if (!m_ipc) {
        qCWarning(lcHotKeys, "Hot key: sway's IPC is away; %s is not bound", qPrintable(name));
        return eventInternalErr;
    }
    const uint32_t code = layout().keycode(keyCode);
    if (!code) {
        qCWarning(lcHotKeys, "Hot key: the keyboard has no key for %s", qPrintable(name));
        return eventHotKeyInvalidErr;
    }
    if (heldByUser(keyCode, modifiers)) {
        qCWarning(lcHotKeys, "Hot key: sway's configuration binds %s; it stays the user's", qPrintable(name));
        return eventHotKeyExistsErr;
    }
    const QString keys = hotkeys::swayBinding(modifiers, QString::number(code));
    const QString action = m_tag + QLatin1Char(' ') + hotkeys::hotKeyAction(id, keyCode, modifiers).name;
    Binding binding{keyCode, modifiers, keys, QStringLiteral("nop %1 pressed").arg(action),
                    QStringLiteral("nop %1 released").arg(action)};
    if (!bind(binding))
        return eventInternalErr;
    m_bindings[token] = std::move(binding);
    return noErr;
}

void SwayHotKeys::releaseLeftBehind(UInt32 keyCode, UInt32 modifiers) {
    const uint32_t code = layout().keycode(keyCode);
    if (!m_ipc || !code || heldByUser(keyCode, modifiers))
        return;
    // Only one helper runs in a session: a binding of these keys that this one did not make is one a
    // helper left. sway answers an error where there is none, which is the usual case.
    const QString keys = hotkeys::swayBinding(modifiers, QString::number(code));
    bool released = false;
    for (const QString& command :
         {QStringLiteral("unbindcode %1"), QStringLiteral("unbindcode --release %1")}) {
        const std::optional<QJsonDocument> reply =
            m_ipc->request(SwayIpc::RunCommand, command.arg(keys).toUtf8());
        released =
            released || (reply && reply->array().at(0).toObject().value(QLatin1String("success")).toBool());
    }
    if (released)
        qCInfo(lcHotKeys, "Let go of %s, which a helper that no longer runs left bound",
               qPrintable(hotkeys::describeHotKey(keyCode, modifiers, layout())));
}

void SwayHotKeys::remove(Token token) {
    const auto it = m_bindings.find(token);
    if (it == m_bindings.end())
        return;
    unbind(it->second);
    m_bindings.erase(it);
}

void SwayHotKeys::readEvents() {
    if (!m_ipc)
        return;
    const bool open = m_ipc->readEvents();
    for (SwayMessage& message : m_ipc->takeEvents())
        m_pending.push_back(std::move(message));
    if (!open)
        connectionLost();
    processPending();
}

void SwayHotKeys::scheduleProcessing() {
    m_processLater.start();
}

// Handlers may run a nested event loop that lands here again; taking one event at a time off the
// shared queue keeps the order either way.
void SwayHotKeys::processPending() {
    while (!m_pending.empty()) {
        const SwayMessage message = std::move(m_pending.front());
        m_pending.pop_front();
        const QJsonObject event = QJsonDocument::fromJson(message.payload).object();
        if (message.type == kBindingEvent) {
            const QString command =
                event.value(QLatin1String("binding")).toObject().value(QLatin1String("command")).toString();
            for (const auto& [token, binding] : m_bindings)
                if (command == binding.pressed || command == binding.released) {
                    emit hotKey(token,
                                command == binding.pressed ? kEventHotKeyPressed : kEventHotKeyReleased);
                    break;
                }
        } else if (message.type == kInputEvent) {
            // Another layout of the keymap, or another keymap: the keys' names may read differently.
            const QString change = event.value(QLatin1String("change")).toString();
            if (change == QLatin1String("xkb_layout") || change == QLatin1String("xkb_keymap"))
                if (const std::optional<uint32_t> active =
                        activeLayoutOf(event.value(QLatin1String("input")).toObject()))
                    followLayout(*active);
        } else if (message.type == kWorkspaceEvent &&
                   event.value(QLatin1String("change")).toString() == QLatin1String("reload")) {
            // A reload reads the configuration anew and drops every binding made at run time.
            qCInfo(lcHotKeys, "sway reloaded its configuration: the hot keys are bound again");
            close();
            m_pending.clear();
            reconnect();
            return;
        }
    }
}

void SwayHotKeys::connectionLost() {
    if (!m_ipc)
        return;
    qCWarning(lcHotKeys, "sway's IPC connection at \"%s\" closed: hot keys are off until sway answers again",
              qPrintable(m_path));
    close();
    m_retry.setInterval(kFirstRetryMs);
    m_retry.start();
}

void SwayHotKeys::reconnect() {
    // A socket that is gone is not tried, so a sway that went for good costs a look at a file now and
    // then, and no log lines.
    if (!QFileInfo::exists(m_path) || !open()) {
        m_retry.setInterval(std::min(m_retry.interval() * 2, kLastRetryMs));
        m_retry.start();
        return;
    }
    if (!m_keyboard || m_keyboard->broken()) {
        connectKeyboard();
        followLayout();
    }
    int bound = 0;
    for (auto it = m_bindings.begin(); it != m_bindings.end() && m_ipc;) {
        // The configuration may have taken a combination meanwhile.
        const bool taken = heldByUser(it->second.keyCode, it->second.modifiers);
        if (!taken && bind(it->second)) {
            ++bound;
            ++it;
        } else if (m_ipc) {
            qCWarning(lcHotKeys, "Hot key %s stays off: %s",
                      qPrintable(hotkeys::describeHotKey(it->second.keyCode, it->second.modifiers, layout())),
                      taken ? "sway's configuration binds it now" : "sway refused it");
            it = m_bindings.erase(it);
        }
    }
    if (!m_ipc)
        return; // broke again: the next try binds the rest
    qCInfo(lcHotKeys, "sway's IPC answers at \"%s\": %d hot keys bound", qPrintable(m_path), bound);
}

} // namespace glimra::wayland
