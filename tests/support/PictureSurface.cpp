#include "PictureSurface.h"

#include "WaylandKit.h"
#include "XTestKit.h"
#include "wayland/ShmBuffers.h"
#include "wayland/WaylandConnection.h"

#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstring>

namespace glimra::test {

using namespace glimra::wayland;

struct PictureSurface::Private {
    // In the order of making, so that each goes before what it was made on; closing the connection
    // takes the surface off the screen.
    std::unique_ptr<WaylandConnection> connection;
    std::unique_ptr<ShmBuffers> buffers;
    std::unique_ptr<PixelBuffer> pixels;
    Owned<wl_compositor, wl_compositor_destroy> compositor;
    Owned<xdg_wm_base, xdg_wm_base_destroy> shell;
    Owned<wp_viewporter, wp_viewporter_destroy> viewporter;
    Owned<wl_surface, wl_surface_destroy> surface;
    Owned<wp_viewport, wp_viewport_destroy> viewport;
    Owned<xdg_surface, xdg_surface_destroy> window;
    Owned<xdg_toplevel, xdg_toplevel_destroy> toplevel;
    QImage picture;
    QSize points;   // the size the compositor asks for; empty: the output's
    QSize fallback; // the output's size in points
    bool configured = false;
    bool attached = false;
    bool active = false;
    bool drawn = false;

    void show(const QString& output);

    // The buffer spans the size in points the compositor gave (or the output's): one device pixel per
    // buffer pixel.
    void fit() {
        const QSize size = points.isEmpty() ? fallback : points;
        wp_viewport_set_destination(viewport.get(), size.width(), size.height());
        wl_surface_commit(surface.get());
    }
};

namespace {

void ping(void*, xdg_wm_base* shell, uint32_t serial) {
    xdg_wm_base_pong(shell, serial);
}
const xdg_wm_base_listener kShellListener{ping};

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array* states) {
    auto* d = static_cast<PictureSurface::Private*>(data);
    d->points = QSize(width, height);
    const auto* state = static_cast<const uint32_t*>(states->data);
    d->active = std::count(state, state + states->size / sizeof(uint32_t), XDG_TOPLEVEL_STATE_ACTIVATED) > 0;
}
void toplevelClose(void*, xdg_toplevel*) {}
// Bound at version 3: neither bounds nor capabilities come.
const xdg_toplevel_listener kToplevelListener{toplevelConfigure, toplevelClose, nullptr, nullptr};

void windowConfigure(void* data, xdg_surface* window, uint32_t serial) {
    auto* d = static_cast<PictureSurface::Private*>(data);
    xdg_surface_ack_configure(window, serial);
    d->configured = true;
    if (d->attached)
        d->fit();
}
const xdg_surface_listener kWindowListener{windowConfigure};

void frameDone(void* data, wl_callback*, uint32_t) {
    static_cast<PictureSurface::Private*>(data)->drawn = true;
}
const wl_callback_listener kFrameListener{frameDone};

} // namespace

PictureSurface::PictureSurface(const QString& output) : d(std::make_unique<Private>()) {
    d->show(output);
}

void PictureSurface::Private::show(const QString& output) {
    connection = WaylandConnection::connect({}, kTestTimeout);
    ASSERT_TRUE(connection) << "no compositor for the picture";
    WaylandConnection& c = *connection;
    compositor.reset(static_cast<wl_compositor*>(c.bind(&wl_compositor_interface, 4)));
    shell.reset(static_cast<xdg_wm_base*>(c.bind(&xdg_wm_base_interface, 3)));
    viewporter.reset(static_cast<wp_viewporter*>(c.bind(&wp_viewporter_interface, 1)));
    ASSERT_TRUE(compositor && shell && viewporter && c.shm())
        << "the compositor lacks xdg-shell, wp_viewporter or wl_shm";
    xdg_wm_base_add_listener(shell.get(), &kShellListener, nullptr);
    const std::vector<OutputInfo> outputs = c.outputs();
    const auto on = std::find_if(outputs.begin(), outputs.end(),
                                 [&](const OutputInfo& o) { return output.isEmpty() || o.name == output; });
    ASSERT_NE(on, outputs.end()) << "no output " << output.toStdString();
    picture = patternImage(on->pixelSize());
    fallback = on->logical.size();

    surface.reset(wl_compositor_create_surface(compositor.get()));
    viewport.reset(wp_viewporter_get_viewport(viewporter.get(), surface.get()));
    window.reset(xdg_wm_base_get_xdg_surface(shell.get(), surface.get()));
    xdg_surface_add_listener(window.get(), &kWindowListener, this);
    toplevel.reset(xdg_surface_get_toplevel(window.get()));
    xdg_toplevel_add_listener(toplevel.get(), &kToplevelListener, this);
    xdg_toplevel_set_title(toplevel.get(), "Glimra test picture");
    xdg_toplevel_set_fullscreen(toplevel.get(), on->output);
    wl_surface_commit(surface.get());
    ASSERT_TRUE(c.dispatchUntil([this] { return configured; }, Clock::now() + std::chrono::seconds(5),
                                QStringLiteral("the picture's configuration")));

    const int stride = picture.width() * 4;
    buffers = std::make_unique<ShmBuffers>(c.shm());
    pixels = buffers->take(std::size_t(stride) * std::size_t(picture.height()));
    ASSERT_TRUE(pixels);
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(pixels->data() + std::size_t(y) * std::size_t(stride), picture.constScanLine(y),
                    std::size_t(stride));
    wl_surface_attach(surface.get(),
                      buffers->wlBuffer(*pixels, {WL_SHM_FORMAT_XRGB8888, picture.size(), stride}), 0, 0);
    wl_surface_damage_buffer(surface.get(), 0, 0, picture.width(), picture.height());
    wl_callback* frame = wl_surface_frame(surface.get());
    wl_callback_add_listener(frame, &kFrameListener, this);
    attached = true;
    fit();
    const bool shown = c.dispatchUntil([this] { return drawn; }, Clock::now() + std::chrono::seconds(5),
                                       QStringLiteral("the picture's first frame"));
    wl_callback_destroy(frame);
    ASSERT_TRUE(shown);
}

PictureSurface::~PictureSurface() = default;

bool PictureSurface::ok() const {
    return d->drawn;
}

const QImage& PictureSurface::picture() const {
    return d->picture;
}

bool PictureSurface::active() const {
    return d->active;
}

} // namespace glimra::test
