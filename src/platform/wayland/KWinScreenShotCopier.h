#pragma once
// Copies through KWin's org.kde.KWin.ScreenShot2: one CaptureScreen per output at native resolution,
// the pixels written by KWin into a pipe of ours and read on the event loop. KWin answers only
// programs whose desktop entry lists the interface under X-KDE-DBUS-Restricted-Interfaces; a refusal,
// silence or pixels that make no sense switch the copier to the desktop portal for the rest of the run,
// and the copy that met it is taken again there, so no screenshot is lost.

#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <variant>

namespace glimra::wayland {

// What went wrong with one call, for the copier to decide whether to fall back.
struct ScreenShotFailure {
    QString error;   // the D-Bus error's name; empty when the call succeeded but its pixels did not
    QString message; // for the log line
};

// The image KWin describes in its results over the bytes read from the pipe; a failure's text when
// the description or the bytes make no image.
std::variant<QImage, QString> screenShotImage(const QVariantMap& results, const QByteArray& pixels);

// One ScreenShot2 call with its pipe: finish is called exactly once, from the event loop, with the
// image or why there is none. Owns itself and deletes itself after finishing.
class ScreenShotCall : public QObject {
    Q_OBJECT
public:
    using Finish = std::function<void(std::variant<QImage, ScreenShotFailure>)>;
    // method and arguments as the interface names them, without the pipe, which is added last.
    ScreenShotCall(const QString& service, const QString& method, QVariantList arguments,
                   std::chrono::milliseconds timeout, Finish finish);
    ~ScreenShotCall() override;
    void start();

private:
    void readable();
    void tryFinish();
    void end(std::variant<QImage, ScreenShotFailure> result);

    QString service_, method_;
    QVariantList arguments_;
    std::chrono::milliseconds timeout_;
    Finish finish_;
    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray pixels_;
    std::optional<QVariantMap> results_;
    bool eof_ = false;
    bool finished_ = false;
    QTimer timer_;
};

class KWinScreenShotCopier : public OutputCopier {
public:
    KWinScreenShotCopier(std::shared_ptr<WaylandConnection> connection, const CopierOptions& options);
    void copyOutputs(const QStringList& names, Done done) override;
    // Asks KWin for one pixel, so a refusal switches to the portal before the first real copy.
    void warmUp() override;
    QString road() const override;

private:
    void fallBack(const ScreenShotFailure& why);

    std::shared_ptr<WaylandConnection> connection_;
    CopierOptions options_;
    std::unique_ptr<OutputCopier> fallback_;
    // Calls that outlive the copier see it gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace glimra::wayland
