#include "wayland/LayerPictures.h"

#include "wayland/WaylandConnection.h"

// The protocol names an argument "namespace", a C++ keyword.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace glimra::wayland {

namespace {

// One picture's pixels in shared memory, as a buffer the compositor reads.
struct Pixels {
    wl_buffer* buffer = nullptr;
    ~Pixels() {
        if (buffer)
            wl_buffer_destroy(buffer);
    }
};

std::unique_ptr<Pixels> sharedPixels(wl_shm* shm, const QImage& picture) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int stride = argb.width() * 4;
    const std::size_t bytes = std::size_t(stride) * std::size_t(argb.height());
    const int fd = memfd_create("glimra-picture", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(bytes)) != 0) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(static_cast<char*>(memory) + std::size_t(y) * std::size_t(stride), argb.constScanLine(y),
                    std::size_t(stride));
    munmap(memory, bytes);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(bytes));
    auto pixels = std::make_unique<Pixels>();
    // Premultiplied ARGB32 in memory is wl_shm's ARGB8888 on a little-endian machine.
    pixels->buffer =
        wl_shm_pool_create_buffer(pool, 0, argb.width(), argb.height(), stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return pixels;
}

} // namespace

struct LayerPictures::Surface {
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool configured = false;
    bool closed = false;
    // The picture shown, and the one before it, which the compositor may still be reading.
    std::unique_ptr<Pixels> shown, previous;

    ~Surface() {
        if (layer)
            zwlr_layer_surface_v1_destroy(layer);
        if (surface)
            wl_surface_destroy(surface);
    }
};

struct LayerPictures::Private {
    std::shared_ptr<WaylandConnection> connection;
    wl_compositor* compositor = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    std::map<QString, std::unique_ptr<Surface>> surfaces;

    ~Private() {
        surfaces.clear();
        if (shell)
            zwlr_layer_shell_v1_destroy(shell);
        if (compositor)
            wl_compositor_destroy(compositor);
        if (connection && !connection->broken())
            wl_display_flush(connection->display());
    }
};

namespace {

void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t, uint32_t) {
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static_cast<LayerPictures::Surface*>(data)->configured = true;
}

void closed(void* data, zwlr_layer_surface_v1*) {
    static_cast<LayerPictures::Surface*>(data)->closed = true;
}

const zwlr_layer_surface_v1_listener kLayerListener = {configure, closed};

} // namespace

LayerPictures::LayerPictures(std::unique_ptr<Private> p) : d(std::move(p)) {}
LayerPictures::~LayerPictures() = default;

std::unique_ptr<LayerPictures> LayerPictures::create() {
    auto p = std::make_unique<Private>();
    p->connection = WaylandConnection::connect();
    if (!p->connection || !p->connection->offers("zwlr_layer_shell_v1") || !p->connection->shm())
        return nullptr;
    p->compositor = static_cast<wl_compositor*>(p->connection->bind(&wl_compositor_interface, 4));
    p->shell = static_cast<zwlr_layer_shell_v1*>(p->connection->bind(&zwlr_layer_shell_v1_interface, 1));
    if (!p->compositor || !p->shell)
        return nullptr;
    return std::unique_ptr<LayerPictures>(new LayerPictures(std::move(p)));
}

bool LayerPictures::show(const QString& outputName, const QImage& picture) {
    WaylandConnection& c = *d->connection;
    if (picture.isNull()) {
        d->surfaces.erase(outputName);
        wl_display_flush(c.display());
        return true;
    }
    std::unique_ptr<Surface>& s = d->surfaces[outputName];
    if (!s || s->closed) {
        c.dispatchAvailable();
        const std::vector<OutputInfo> outputs = outputsNamed(c.outputs(), {outputName});
        if (outputs.empty()) {
            d->surfaces.erase(outputName);
            return false;
        }
        s = std::make_unique<Surface>();
        s->surface = wl_compositor_create_surface(d->compositor);
        s->layer = zwlr_layer_shell_v1_get_layer_surface(d->shell, s->surface, outputs.front().output,
                                                         ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glimra-capture");
        zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s.get());
        zwlr_layer_surface_v1_set_anchor(
            s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                          ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 0);
        // No input at all: every click goes to the desktop beneath.
        wl_region* none = wl_compositor_create_region(d->compositor);
        wl_surface_set_input_region(s->surface, none);
        wl_region_destroy(none);
        wl_surface_set_buffer_scale(s->surface, outputs.front().scale);
        wl_surface_commit(s->surface);
        Surface* made = s.get();
        if (!c.dispatchUntil([made] { return made->configured || made->closed; }, Clock::now() + c.timeout(),
                             QStringLiteral("a layer surface's configuration")) ||
            made->closed) {
            d->surfaces.erase(outputName);
            return false;
        }
    }
    std::unique_ptr<Pixels> pixels = sharedPixels(c.shm(), picture);
    if (!pixels) {
        logLine(QStringLiteral("no memory for a picture on %1").arg(outputName));
        return false;
    }
    wl_surface_attach(s->surface, pixels->buffer, 0, 0);
    wl_surface_damage_buffer(s->surface, 0, 0, picture.width(), picture.height());
    wl_surface_commit(s->surface);
    s->previous = std::move(s->shown);
    s->shown = std::move(pixels);
    wl_display_flush(c.display());
    return true;
}

void LayerPictures::hideAll() {
    d->surfaces.clear();
    if (!d->connection->broken())
        wl_display_flush(d->connection->display());
}

} // namespace glimra::wayland
