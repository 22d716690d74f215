#include "HotKeyCenter.h"

#include "HotKeyLogic.h"
#include "wayland/PortalHotKeys.h"
#include "wayland/SwayHotKeys.h"
#include "x11/X11HotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>
#include <iterator>

Q_LOGGING_CATEGORY(lcHotKeys, "glimra.hotkeys")

namespace carbon {

namespace {

std::unique_ptr<HotKeyCenter>& applicationCenter() {
    static std::unique_ptr<HotKeyCenter> center;
    return center;
}

// Runs while QCoreApplication is being destroyed, when its event dispatcher still exists for the
// backend's sockets to leave cleanly.
void destroyApplicationCenter() {
    applicationCenter().reset();
}

QString platformChoice() {
    const QString platform = QGuiApplication::platformName();
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || platform == QLatin1String("xcb"))
        return QStringLiteral("x11");
    if (!platform.startsWith(QLatin1String("wayland"))) {
        qCWarning(lcHotKeys, "Hot keys are unavailable: the \"%s\" platform reaches no desktop",
                  qPrintable(platform));
        return QStringLiteral("none");
    }
    if (!qEnvironmentVariableIsEmpty("SWAYSOCK"))
        return QStringLiteral("sway");
    if (glimra::wayland::PortalHotKeys::offered())
        return QStringLiteral("portal");
    qCWarning(lcHotKeys, "Hot keys are unavailable: this Wayland desktop offers neither sway's IPC nor the "
                         "desktop portal");
    return QStringLiteral("none");
}

} // namespace

std::unique_ptr<HotKeyBackend> makeHotKeyBackend() {
    QString choice = qEnvironmentVariable("GLIMRA_HOTKEYS").toLower();
    const bool forced = !choice.isEmpty();
    if (!forced)
        choice = platformChoice();
    std::unique_ptr<HotKeyBackend> backend;
    if (choice == QLatin1String("x11")) {
        backend = glimra::x11::X11HotKeys::make();
    } else if (choice == QLatin1String("sway")) {
        backend = glimra::wayland::SwayHotKeys::make();
        // A SWAYSOCK that does not answer (left from another session) leaves the portal.
        if (!backend && !forced && glimra::wayland::PortalHotKeys::offered())
            backend = std::make_unique<glimra::wayland::PortalHotKeys>();
    } else if (choice == QLatin1String("portal")) {
        backend = std::make_unique<glimra::wayland::PortalHotKeys>();
    } else if (choice != QLatin1String("none")) {
        qCWarning(lcHotKeys, "Hot keys are unavailable: GLIMRA_HOTKEYS=%s is none of x11, sway, portal, none",
                  qPrintable(choice));
    }
    if (backend)
        qCInfo(lcHotKeys, "Hot keys through %s", qPrintable(backend->objectName()));
    return backend;
}

HotKeyCenter& HotKeyCenter::application() {
    auto& center = applicationCenter();
    if (!center) {
        center = std::make_unique<HotKeyCenter>(makeHotKeyBackend());
        if (QCoreApplication::instance())
            qAddPostRoutine(destroyApplicationCenter);
    }
    return *center;
}

HotKeyCenter::HotKeyCenter(const QByteArray& displayName, QObject* parent)
    : HotKeyCenter(glimra::x11::X11HotKeys::make(displayName), parent) {}

HotKeyCenter::HotKeyCenter(std::unique_ptr<HotKeyBackend> backend, QObject* parent)
    : QObject(parent), m_backend(std::move(backend)) {
    if (!m_backend)
        return;
    connect(m_backend.get(), &HotKeyBackend::hotKey, this, &HotKeyCenter::dispatch);
    connect(m_backend.get(), &HotKeyBackend::keyboardMappingApplied, this,
            &HotKeyCenter::keyboardMappingApplied);
    connect(m_backend.get(), &HotKeyBackend::layoutChanged, this, &HotKeyCenter::layoutChanged);
}

HotKeyCenter::~HotKeyCenter() = default;

const glimra::hotkeys::KeyboardLayout& HotKeyCenter::layout() const {
    return m_backend ? m_backend->layout() : m_usLayout;
}

OSStatus HotKeyCenter::registerHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID,
                                      OptionBits options, EventHotKeyRef* outRef) {
    const QString name = glimra::hotkeys::describeHotKey(keyCode, modifiers, layout());
    if (options & ~kEventHotKeyExclusive) {
        qCWarning(lcHotKeys, "Hot key: unknown options 0x%x for %s", options, qPrintable(name));
        return paramErr;
    }
    constexpr UInt32 known = cmdKey | shiftKey | optionKey | controlKey;
    if (!glimra::hotkeys::keysymForVirtualKey(keyCode) || (modifiers & ~known)) {
        qCWarning(lcHotKeys, "Hot key: %s has no counterpart on this desktop", qPrintable(name));
        return eventHotKeyInvalidErr;
    }
    if (!m_backend) {
        qCWarning(lcHotKeys, "Hot key: this desktop takes no hot keys from programs; %s stays off",
                  qPrintable(name));
        return eventInternalErr;
    }
    for (const auto& hotKey : m_hotKeys)
        if (hotKey->registered && hotKey->keyCode == keyCode && hotKey->modifiers == modifiers) {
            qCWarning(lcHotKeys, "Hot key: %s is already registered", qPrintable(name));
            return eventHotKeyExistsErr;
        }

    // A hot key held only at times (Escape during a capture) comes back to its earlier record, so
    // registering it over and over does not pile records up.
    auto reused = std::find_if(m_hotKeys.begin(), m_hotKeys.end(), [&](const auto& record) {
        return !record->registered && record->keyCode == keyCode && record->modifiers == modifiers &&
               record->hotKeyID.signature == hotKeyID.signature && record->hotKeyID.id == hotKeyID.id;
    });
    const uint64_t token = m_nextToken++;
    if (const OSStatus status = m_backend->add(token, keyCode, modifiers, hotKeyID); status != noErr)
        return status;
    if (reused == m_hotKeys.end()) {
        m_hotKeys.push_back(std::make_unique<OpaqueEventHotKeyRef>());
        reused = std::prev(m_hotKeys.end());
    }
    OpaqueEventHotKeyRef& record = **reused;
    record.center = this;
    record.keyCode = keyCode;
    record.modifiers = modifiers;
    record.hotKeyID = hotKeyID;
    record.token = token;
    record.registered = true;
    if (outRef)
        *outRef = &record;
    return noErr;
}

OSStatus HotKeyCenter::unregisterHotKey(EventHotKeyRef hotKeyRef) {
    auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(),
                           [hotKeyRef](const auto& record) { return record.get() == hotKeyRef; });
    if (it == m_hotKeys.end() || !(*it)->registered) {
        qCWarning(lcHotKeys, "Hot key: the hot key is not registered");
        return paramErr;
    }
    (*it)->registered = false;
    if (m_backend)
        m_backend->remove((*it)->token);
    return noErr;
}

void HotKeyCenter::dispatch(quint64 token, quint32 kind) {
    auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(),
                           [token](const auto& record) { return record->token == token; });
    if (it == m_hotKeys.end() || !(*it)->registered)
        return;
    OpaqueEventRef event{kEventClassKeyboard, kind, (*it)->hotKeyID};
    m_handlers.dispatch(event);
}

} // namespace carbon
