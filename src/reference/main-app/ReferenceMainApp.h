#pragma once
// The reference main application: keeps every promise the helper relies on. It owns the main
// application's bus name, starts the helper by its bus name when it does not run, connects to the
// helper whenever the helper announces itself (and again after every connection error), answers
// capture requests, saves each screenshot it receives as <title>.png in its folder, and quits when
// the helper asks it to. Asked to start the helper at login, it writes or removes the helper's login
// item and tells the helper; a second one asked that while it runs hands the request to it over the
// session bus (object /app/glimra/Glimra, interface app.glimra.Glimra).

#include "xpc/Xpc.h"

#include <QDir>
#include <QList>
#include <QTimer>

#include <QObject>
#include <QString>
#include <deque>

#include <optional>

class ReferenceMainApp : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.glimra.Glimra")
public:
    enum class Answer { Allow, Refuse, RefuseWithoutKey, RefuseWithError, Ignore };

    struct Options {
        QString outputDirectory; // where screenshots go
        Answer answer = Answer::Allow;
        bool connect = true; // false: runs without ever connecting (a main application that never does)
        // Message kinds to send on the first connection, e.g. 6 for a full-screen capture.
        QList<quint64> sendOnConnect;
        // "StartHelperAtLogin" to set: the login item is written or removed at start, and the setting
        // sent to the helper on every connection (also when handed over by a second Glimra).
        std::optional<bool> startHelperAtLogin;
    };

    explicit ReferenceMainApp(Options options, QObject* parent = nullptr);

    // Claims the bus name and starts listening; false when another main application runs, which is
    // then handed the login setting asked for. exitStatus() says whether that went well.
    bool start();
    int exitStatus() const { return exitStatus_; }

    // The path a screenshot titled title is saved at: <title>.png, made unique with " 2", " 3", ...
    static QString uniqueFilePath(const QDir& directory, const QString& title);
    // Saves the PNG of a screenshot message (kind 8) into directory; its path, or empty with *error set.
    static QString saveScreenshot(const xpc::xpc_object_t& message, const QString& directory, QString* error);

public slots:
    // Called over the session bus by a second main application started with --start-helper-at-login:
    // sets the login item and tells the helper, as this one would at start; answers what it did.
    Q_SCRIPTABLE QString SetStartHelperAtLogin(bool enabled);

private:
    // The executable of the helper bundle in this application's bundle, empty when there is none.
    static QString helperExecutable();
    static QString helperBusName(); // the unique name of the helper running now, empty when none
    void startHelper();
    void helperIsReady();
    // Writes or removes the login item; returns the line it logged.
    QString setHelperLoginItemEnabled(bool enabled);
    bool handOverToRunningApplication();
    void sendStartHelperAtLogin();
    void connectToHelper();
    void handleEvent(const xpc::xpc_connection_t& connection, const xpc::xpc_object_t& event);
    void saveScreenshot(const xpc::xpc_object_t& message);
    // The helper's name left the bus: without its goodbye it died, and is started again (a few times a
    // minute at most, so a helper that dies at start does not run in a loop).
    void helperVanished();

    Options options_;
    xpc::xpc_connection_t connection_;
    QString connectedBusName_; // the helper connection_ was made to
    bool sentOnConnect_ = false;
    int exitStatus_ = 0;
    bool helperSaidGoodbye_ = false;
    std::deque<qint64> restarts_; // when the helper was last started again, ms since the epoch
};
