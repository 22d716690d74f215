#pragma once
// Tray hosts on the test session: trayer for XEmbed, and a StatusNotifierWatcher written here that
// plays the host's side of the bus the way desktop panels do.

#include "XTestKit.h"

#include <QDBusMessage>
#include <QThread>
#include <QVariantList>

#include <memory>
#include <optional>

namespace glimra::test {

// trayer along an edge ("top", "bottom") of the test session's display, stopped when it goes.
std::unique_ptr<Program> startTrayer(const char* edge);

bool trayRunning(XClient& x);

// A mapped window of process pid somewhere inside a window of trayer's.
std::optional<xcb_window_t> iconDockedInTrayer(XClient& x, qint64 pid);

class FakeStatusNotifierWatcher;

// A StatusNotifierWatcher with a host, answering from a thread of its own, as another process would,
// so nothing depends on the tray code never blocking on it.
class StatusNotifierWatcher {
public:
    StatusNotifierWatcher();
    ~StatusNotifierWatcher();
    StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
    StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

    bool start();
    void stop();
    // The registered items as "service" or "service/path".
    QStringList items() const;
    static bool onBus();

private:
    const QString name_ = QStringLiteral("fake-status-notifier-watcher");
    QThread thread_;
    std::unique_ptr<FakeStatusNotifierWatcher> watcher_;
    bool running_ = false;
};

// A method call on the session bus, waited for with the event loop running: the callee may be an
// object of this very process.
QDBusMessage busCall(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& arguments = {});

} // namespace glimra::test
