#pragma once
// A desktop portal of the test's own on the session bus that implements
// org.freedesktop.portal.GlobalShortcuts version 1 as documented, answering through Request objects,
// or as KDE Plasma 5.27 does (binding the shortcuts a session is created with, its BindShortcuts only
// opening the shortcut settings), or not at all.

#include "TestSupport.h"

#include <QDBusVirtualObject>
#include <QVariantMap>

#include <vector>

namespace glimra::test {

class FakeShortcutsPortal : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class Behaviour { Documented, BindsAtCreateSession, Silent };
    struct Shortcut {
        QString id;
        QString description;
        QString trigger; // preferred_trigger
    };

    // Serves on a connection of its own under service, at the portal's object path.
    FakeShortcutsPortal(const QString& service, Behaviour behaviour);
    bool ok() const { return ok_; }

    // What the last CreateSession or BindShortcuts offered, and how often each was called.
    std::vector<Shortcut> offered;
    int createSessionCalls = 0;
    int bindShortcutsCalls = 0;
    QString session; // the handle of the last session made

    // A press and a release of the bound shortcut id, as the desktop reports them, for session.
    void press(const QString& id, const QString& forSession = QString());

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    // Replies to call with its Request object, whose Response follows unless the portal is silent.
    void answer(const QDBusMessage& call, const QDBusConnection& connection, const QVariantMap& options,
                const QVariantMap& results);
    void emitSignal(const QString& member, const QString& id, const QString& forSession);

    BusClient bus_;
    Behaviour behaviour_;
    bool ok_ = false;
};

} // namespace glimra::test
