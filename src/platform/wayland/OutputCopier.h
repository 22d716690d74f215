#pragma once
// Copies of whole outputs on a Wayland desktop, through whichever road the compositor offers: the
// ext-image-copy-capture protocol, wlroots' screencopy protocol, KWin's ScreenShot2 D-Bus interface, or
// the desktop portal's Screenshot (which asks the compositor's own tool and answers with a file,
// seconds later).

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace glimra::wayland {

class WaylandConnection;

// One output's pixels.
struct OutputImage {
    QString name;  // the output's name, as QScreen::name() gives it
    QRect logical; // where the output lies in the layout's logical coordinates (y downwards)
    // Device pixels, upright (the output's rotation undone), QImage::Format_RGB32 (opaque). It may be
    // kept, copied and released on any thread; later copies never write into it.
    QImage image;
};

class OutputCopier {
public:
    using Done = std::function<void(std::vector<OutputImage>)>;

    virtual ~OutputCopier() = default;

    // Copies the named outputs (empty: all of them), in the order asked for (all: the compositor's
    // order). done is called exactly once, on the calling thread: before this returns on the direct
    // roads, from the event loop on the portal's. All or nothing: an unknown name, an output whose copy
    // fails or a road that fails gives an empty list (with a log line saying why).
    virtual void copyOutputs(const QStringList& names, Done done) = 0;
    // Readies what the next copy needs, so it is as fast as later ones: the buffers for all outputs on
    // the direct roads, the portal itself on the portal's (without waiting for it).
    virtual void warmUp() {}
    // Lets go of the buffers kept warm between copies (for an idle process); the next copy readies
    // them again.
    virtual void releaseBuffers() {}
    // The road's name for log lines and benchmarks: "ext-image-copy-capture", "wlr-screencopy",
    // "kwin-screenshot2", "portal".
    virtual QString road() const = 0;
};

struct CopierOptions {
    enum class Road { Automatic, ExtImageCopyCapture, WlrScreencopy, KWinScreenShot, Portal };
    // Automatic takes the first road the desktop offers in the order above. The environment variable
    // GLIMRA_WAYLAND_CAPTURE (ext-image-copy-capture, wlr-screencopy, kwin-screenshot2 or portal)
    // overrides it.
    Road road = Road::Automatic;
    // The Wayland socket (empty: $WAYLAND_DISPLAY).
    QString socket;
    // How long the portal may take to answer.
    std::chrono::milliseconds portalTimeout{10000};
    // How long KWin may take to answer and write the pixels (a frame or two when it works).
    std::chrono::milliseconds kwinTimeout{3000};
    // The portal's bus name (tests point it at a portal of their own).
    QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
};

// The copier for the running desktop; nullptr (with a log line) when no road is open. The direct roads
// need a Wayland connection; the portal's works without one, laying outputs out from Qt's screens.
std::unique_ptr<OutputCopier> makeOutputCopier(const CopierOptions& options = CopierOptions());
// The same over a connection the caller keeps too (null: the portal's road alone works).
std::unique_ptr<OutputCopier> makeOutputCopier(std::shared_ptr<WaylandConnection> connection,
                                               const CopierOptions& options = CopierOptions());

// The roads on their own, for tests and benchmarks: nullptr (with a log line) when the compositor does
// not offer the road's protocol.
std::unique_ptr<OutputCopier> makeScreencopyCopier(std::shared_ptr<WaylandConnection> connection);
std::unique_ptr<OutputCopier> makeImageCopyCaptureCopier(std::shared_ptr<WaylandConnection> connection);
// nullptr (with a log line) when KWin does not offer ScreenShot2 on the session bus. connection may be
// null, as for the portal's.
std::unique_ptr<OutputCopier> makeKWinScreenShotCopier(std::shared_ptr<WaylandConnection> connection,
                                                       const CopierOptions& options = CopierOptions());
// connection may be null: outputs are then laid out from Qt's screens.
std::unique_ptr<OutputCopier> makePortalCopier(std::shared_ptr<WaylandConnection> connection,
                                               const CopierOptions& options = CopierOptions());

} // namespace glimra::wayland
