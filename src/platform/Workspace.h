#pragma once
// Running applications on the session bus: an application with bundle identifier B runs while the
// well-known bus name B has an owner; it has terminated when the bus reports that name's owner gone.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace glimra {

class Workspace : public QObject {
    Q_OBJECT
public:
    // The workspace of the session bus, owned by the application object.
    static Workspace& sharedWorkspace();

    explicit Workspace(QDBusConnection bus, QObject* parent = nullptr);
    // URL tools still running go with it without reporting: the application is ending.
    ~Workspace() override;

    // Whether the session bus could be reached; *error says why not.
    bool isConnected(QString* error = nullptr) const;

    // At least one running application has this bundle identifier.
    bool isApplicationRunning(const QString& bundleIdentifier) const;

    // Claims bundleIdentifier as this process's well-known name; false when another process holds it.
    bool registerApplication(const QString& bundleIdentifier);

    // Opens url with the desktop's handler for its scheme without waiting for it: the URL tool runs
    // on the workspace's (main) thread's event loop, and completion is called there exactly once when
    // it has finished, with opened false and the reason when no handler could be started (also when
    // the tool did not finish within 10 s); never when the workspace goes first. May be called from
    // any thread.
    using OpenCompletion = std::function<void(bool opened, const QString& error)>;
    void openURL(const QUrl& url, OpenCompletion completion);

    // Starts the executable that the bundle's Info.plist names, detached; false with *error when it
    // cannot be started.
    bool launchApplicationAtURL(const QString& bundlePath, QString* error = nullptr);

protected:
    bool event(QEvent* e) override;

signals:
    // A well-known name (an application's bundle identifier) lost its owner.
    void applicationDidTerminate(const QString& bundleIdentifier);

private slots:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    void startOpening(const QUrl& url, OpenCompletion completion);

    QDBusConnection bus_;
};

} // namespace glimra
