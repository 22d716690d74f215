#pragma once
// One call of the desktop portal that answers through a Request object (org.freedesktop.portal.Request):
// the call names a handle token, and the portal answers seconds later with the Response signal of the
// object that token makes, which is subscribed to before the call so that no answer is missed.

#include <QDBusMessage>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>

namespace glimra::wayland {

inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// Whether a portal runs under service, or the bus would start it for a call.
bool portalOffered(const QString& service = kPortalService);

struct PortalResponse {
    uint code = 2; // 0 success, 1 cancelled by the user, 2 anything else
    QVariantMap results;
};

// Owns itself: it deletes itself once answered, or, after a timeout, once a late answer has come or two
// minutes have passed, so its caller may go while it waits. A child of the application, so one still
// waiting when the application quits goes with it.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    using Finish = std::function<void(std::optional<PortalResponse>)>;
    using LateAnswer = std::function<void(const PortalResponse&)>;

    // call: the method, with every argument but its options, which the request sends with a handle
    // token added. what names the call in log lines ("the Screenshot call").
    PortalRequest(QDBusMessage call, QVariantMap options, QString what, std::chrono::milliseconds timeout,
                  Finish finish, LateAnswer lateAnswer = {});
    ~PortalRequest() override;

    // Subscribes to the Response and sends the call. finish is called exactly once: with the answer,
    // or with nothing (logged) when the call fails or no answer comes within the timeout; an answer
    // after that goes to lateAnswer.
    void start();

public slots:
    void response(uint code, const QVariantMap& results);

private:
    void subscribe(const QString& path);
    void unsubscribe();
    void end(std::optional<PortalResponse> answer);
    void timedOut();

    QDBusMessage call_;
    QVariantMap options_;
    QString what_;
    std::chrono::milliseconds timeout_;
    Finish finish_;
    LateAnswer lateAnswer_;
    QString token_;
    QString path_;
    QTimer timer_;
    bool finished_ = false;
};

} // namespace glimra::wayland
