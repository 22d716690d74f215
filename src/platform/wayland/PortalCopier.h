#pragma once
// Copies through the desktop portal's org.freedesktop.portal.Screenshot, for compositors that let no
// client copy outputs itself (GNOME, KDE). The portal answers through a Request object's Response
// signal, seconds later, with a file that covers the whole layout; it is read, deleted and cut into
// outputs.

#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"

namespace glimra::wayland {

// Cuts an image of the whole layout (the bounding box of all outputs' logical rectangles at one scale,
// found from the image's size) into the outputs, each at its own device pixels. Empty (with a log
// line) when the image does not have the layout's proportions.
std::vector<OutputImage> cutIntoOutputs(const QImage& whole, const std::vector<OutputInfo>& layout);

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
