#pragma once
// Hot keys through the desktop portal's org.freedesktop.portal.GlobalShortcuts (version 1): the
// desktop binds them, and may ask the user first. The registrations of one turn of the event loop go
// into one session (CreateSession, then BindShortcuts, each answered through a Request object), with
// the combinations as preferred triggers and the status menu's texts as descriptions; a later change
// makes a new session, since a session binds once. `Activated` is a hot key's press, `Deactivated` its
// release. Nothing here waits: registering answers noErr for a request sent, and what the desktop
// makes of it is logged when it answers (a shortcut the desktop gives no trigger stays off).
//
// KDE Plasma 5.27 binds only the shortcuts a session is created with (the `shortcuts` option of an
// early draft of the interface, which xdg-desktop-portal 1.16 passes on) and answers BindShortcuts by
// opening its shortcut settings; so the shortcuts go with CreateSession as well, and BindShortcuts is
// called only when the session's answer does not list them all bound.

#include "hotkeys/HotKeyBackend.h"

#include "wayland/DesktopPortal.h"

#include <QDBusMessage>
#include <QString>
#include <QTimer>

#include <chrono>
#include <map>

namespace glimra::wayland {

struct PortalHotKeysOptions {
    QString service = kPortalService;
    // CreateSession: the portal may take seconds to start the first time.
    std::chrono::milliseconds sessionTimeout{10000};
    // BindShortcuts: the desktop may be asking the user.
    std::chrono::milliseconds bindTimeout{120000};
    // Triggers in KDE Plasma's form (HotKeyNames.h); by default where XDG_CURRENT_DESKTOP names KDE.
    bool shiftedSymbols = qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"));
    // Told to portals that know org.freedesktop.host.portal.Registry (1.19 on), which otherwise find no
    // application id for a program outside a sandbox.
    QString applicationId = QStringLiteral("app.glimra.GlimraHelper");
};

class PortalHotKeys final : public carbon::HotKeyBackend {
    Q_OBJECT
public:
    explicit PortalHotKeys(PortalHotKeysOptions options = {});
    ~PortalHotKeys() override;

    carbon::OSStatus add(Token token, carbon::UInt32 keyCode, carbon::UInt32 modifiers,
                         carbon::EventHotKeyID id) override;
    void remove(Token token) override;
    // Escape for a moment would mean asking the user each time.
    bool holdsKeysBriefly() const override { return false; }

private slots:
    void portalSignal(const QDBusMessage& message);

private:
    struct Shortcut {
        QString id;
        QString description;
        QString trigger;
    };

    void createSession();
    void closeSession();
    void sessionCreated(const PortalResponse& answer);
    // Logs which shortcuts the desktop gave a trigger, and which it did not.
    void report(const QVariant& shortcuts, const char* when);
    QVariant shortcutList() const;

    PortalHotKeysOptions m_options;
    std::map<Token, Shortcut> m_shortcuts;
    QString m_session;
    int m_generation = 0; // answers to an older session's requests are stale
    // The registrations of one turn of the event loop (the helper's five at start) share one session.
    QTimer m_sessionLater;
    bool m_registered = false;
};

} // namespace glimra::wayland
