#pragma once
// Running applications on the session bus: an application with bundle identifier B runs while the
// well-known bus name B has an owner; it has terminated when the bus reports that name's owner gone.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QUrl>

namespace glimra {

class Workspace : public QObject {
    Q_OBJECT
public:
    // The workspace of the session bus, owned by the application object.
    static Workspace& sharedWorkspace();

    explicit Workspace(QDBusConnection bus, QObject* parent = nullptr);

    // At least one running application has this bundle identifier.
    bool isApplicationRunning(const QString& bundleIdentifier) const;

    // Claims bundleIdentifier as this process's well-known name; false when another process holds it.
    bool registerApplication(const QString& bundleIdentifier);

    // Opens url with the desktop's handler for its scheme; false when none could be started.
    bool openURL(const QUrl& url, QString* error = nullptr);

    // Starts the executable that the bundle's Info.plist names, detached; false with *error when it
    // cannot be started.
    bool launchApplicationAtURL(const QString& bundlePath, QString* error = nullptr);

signals:
    // A well-known name (an application's bundle identifier) lost its owner.
    void applicationDidTerminate(const QString& bundleIdentifier);

private slots:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    QDBusConnection bus_;
};

} // namespace glimra
