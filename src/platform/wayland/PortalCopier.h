#pragma once
// Copies through the desktop portal's org.freedesktop.portal.Screenshot, for compositors that let no
// client copy outputs itself (GNOME, KDE). The portal answers through a Request object's Response
// signal, seconds later, with a file that covers the whole layout; it is read, deleted and cut into
// outputs.

#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"

#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <optional>

namespace glimra::wayland {

// Cuts an image of the whole layout (the bounding box of all outputs' logical rectangles at one scale,
// found from the image's size) into the outputs, each at its own device pixels. Empty (with a log
// line) when the image does not have the layout's proportions.
std::vector<OutputImage> cutIntoOutputs(const QImage& whole, const std::vector<OutputInfo>& layout);

// One Screenshot call: waits for its Response, or for the timeout. Owns itself: it lives on after a
// timeout until a late answer arrives (whose file it deletes) or a minute has passed, and then deletes
// itself, so a copier may go while its requests wait.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    using Finish = std::function<void(std::optional<QImage>)>;
    PortalRequest(const QString& service, std::chrono::milliseconds timeout, Finish finish);
    ~PortalRequest() override;
    // Subscribes to the Response and calls the portal; finish is called exactly once.
    void start();

public slots:
    void response(uint code, const QVariantMap& results);

private:
    void subscribe(const QString& path);
    void unsubscribe();
    void end(std::optional<QImage> image);
    void timedOut();

    QString service_;
    std::chrono::milliseconds timeout_;
    Finish finish_;
    QString token_;
    QString path_;
    QTimer timer_;
    bool finished_ = false;
};

class PortalCopier : public OutputCopier {
public:
    PortalCopier(std::shared_ptr<WaylandConnection> connection, const CopierOptions& options);
    void copyOutputs(const QStringList& names, Done done) override;
    // Starts the portal (activated by the bus, it takes seconds the first time), without waiting.
    void warmUp() override;
    QString road() const override { return QStringLiteral("portal"); }

private:
    std::shared_ptr<WaylandConnection> connection_;
    CopierOptions options_;
};

} // namespace glimra::wayland
