#include "wayland/LayerOverlay.h"

#include "wayland/WaylandConnection.h"
#include "wayland/XkbKeyboard.h"

// The protocol names an argument "namespace", a C++ keyword.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "viewporter-client-protocol.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-cursor.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <map>
#include <vector>

namespace glimra::wayland {

namespace {

template <auto destroy> struct Deleter {
    template <typename T> void operator()(T* p) const {
        if (p)
            destroy(p);
    }
};
template <typename T, auto destroy> using Owned = std::unique_ptr<T, Deleter<destroy>>;

// One frame's pixels in shared memory, premultiplied ARGB (wl_shm's ARGB8888 on a little-endian
// machine), with what of it is older than the frame shown.
struct Buffer {
    Owned<wl_buffer, wl_buffer_destroy> buffer;
    void* memory = MAP_FAILED;
    std::size_t bytes = 0;
    QSize size;
    bool busy = false; // the compositor may be reading it
    QRegion stale;     // points of the window this buffer shows an older picture of

    ~Buffer() {
        if (memory != MAP_FAILED)
            munmap(memory, bytes);
    }
    static std::unique_ptr<Buffer> make(wl_shm* shm, QSize size);
};

const wl_buffer_listener kBufferListener = {
    [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }};

std::unique_ptr<Buffer> Buffer::make(wl_shm* shm, QSize size) {
    const int stride = size.width() * 4;
    auto b = std::make_unique<Buffer>();
    b->size = size;
    b->bytes = std::size_t(stride) * std::size_t(size.height());
    const int fd = memfd_create("glimra-overlay", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (ftruncate(fd, off_t(b->bytes)) != 0 ||
        (b->memory = mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(b->bytes));
    b->buffer.reset(
        wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), stride, WL_SHM_FORMAT_ARGB8888));
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(b->buffer.get(), &kBufferListener, b.get());
    return b;
}

// Released where the seat is new enough to know the request (version 3), else only forgotten.
void releasePointer(wl_pointer* p) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(p)) >= WL_POINTER_RELEASE_SINCE_VERSION)
        wl_pointer_release(p);
    else
        wl_pointer_destroy(p);
}
void releaseKeyboard(wl_keyboard* k) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(k)) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(k);
    else
        wl_keyboard_destroy(k);
}

const char* cursorName(Qt::CursorShape shape) {
    switch (shape) {
    case Qt::OpenHandCursor:
        return "openhand";
    case Qt::ClosedHandCursor:
        return "closedhand";
    case Qt::CrossCursor:
        return "crosshair";
    default:
        return "left_ptr";
    }
}

// What themes that follow the freedesktop names call the same shapes.
const char* cursorAlias(Qt::CursorShape shape) {
    switch (shape) {
    case Qt::OpenHandCursor:
        return "grab";
    case Qt::ClosedHandCursor:
        return "grabbing";
    default:
        return "default";
    }
}

} // namespace

class LayerSurface;

// The connection, the seat and everything the surfaces share: where the pointer is, which window takes
// the keys, the cursor.
struct LayerOverlay::Shared {
    std::shared_ptr<WaylandConnection> connection;
    Owned<wl_compositor, wl_compositor_destroy> compositor;
    Owned<zwlr_layer_shell_v1, zwlr_layer_shell_v1_destroy> shell;
    Owned<wp_viewporter, wp_viewporter_destroy> viewporter;
    Owned<wl_seat, wl_seat_destroy> seat;
    Owned<wl_pointer, releasePointer> pointer;
    Owned<wl_keyboard, releaseKeyboard> keyboard;
    Owned<wl_surface, wl_surface_destroy> cursorSurface;
    std::map<int, Owned<wl_cursor_theme, wl_cursor_theme_destroy>> cursorThemes; // by scale

    std::vector<LayerSurface*> surfaces;
    LayerSurface* pointerFocus = nullptr;
    uint32_t enterSerial = 0;
    QPointF pointerLocal;                 // on pointerFocus, points
    std::optional<QPointF> pointerGlobal; // Qt's global coordinates
    Qt::MouseButtons buttons;
    QString cursorShown; // the theme's name of the shape on the pointer now; empty when hidden
    bool cursorKnown = false;

    XkbKeyboard keys;
    QPointer<QWidget> keyTarget;
    QTimer repeat;
    uint32_t repeatKey = 0;
    int repeatRate = 25, repeatDelay = 600;

    // Input and losses arrive inside the connection's dispatch; they reach the widgets once it is over,
    // so that a handler may hide, sync or destroy surfaces freely.
    std::deque<std::function<void()>> pending;
    QTimer deliver;

    // Buffers of surfaces that went, for the next ones; let go of after a quiet minute.
    std::vector<std::unique_ptr<Buffer>> idleBuffers;
    QTimer releaseIdle;
    std::unique_ptr<Buffer> takeIdle(QSize size) {
        for (auto it = idleBuffers.begin(); it != idleBuffers.end(); ++it)
            if (!(*it)->busy && (*it)->size == size) {
                std::unique_ptr<Buffer> b = std::move(*it);
                idleBuffers.erase(it);
                return b;
            }
        return nullptr;
    }
    void keepIdle(std::vector<std::unique_ptr<Buffer>> buffers) {
        for (auto& b : buffers)
            idleBuffers.push_back(std::move(b));
        // Two per output at most: a capture uses no more.
        while (idleBuffers.size() > 6)
            idleBuffers.erase(idleBuffers.begin());
        releaseIdle.start();
    }

    ~Shared() {
        idleBuffers.clear();
        cursorThemes.clear();
        cursorSurface.reset();
        keyboard.reset();
        pointer.reset();
        seat.reset();
        viewporter.reset();
        shell.reset();
        compositor.reset();
        if (connection && !connection->broken())
            wl_display_flush(connection->display());
    }

    void post(std::function<void()> job) {
        pending.push_back(std::move(job));
        deliver.start();
    }
    void flush() {
        if (!connection->broken())
            wl_display_flush(connection->display());
    }
    // The overlay's surface that a wl_surface of an event is (resolved inside the dispatch, while the
    // proxy is certain to be alive), as an id that stays safe to look up after the surface went.
    uint64_t idOf(wl_surface* surface) const;
    LayerSurface* surfaceWithId(uint64_t id) const;
    uint64_t nextId = 1;
    void applyCursor();
    void keyEvent(uint32_t key, bool pressed, bool autoRepeat);
};

class LayerSurface final : public OverlaySurface, public QObject {
public:
    LayerSurface(std::shared_ptr<LayerOverlay::Shared> shared, QWidget& window, const QString& output,
                 OverlayDesktop::WindowPainter paint, std::function<void(const QString&)> lost)
        : shared_(std::move(shared)), id_(shared_->nextId++), window_(&window), output_(output),
          paint_(std::move(paint)), lost_(std::move(lost)) {
        shared_->surfaces.push_back(this);
        // Updates of the widgets inside it (the resize panel's field, a pressed button) come as update
        // requests of the window, which never shows itself.
        window.installEventFilter(this);
    }

    ~LayerSurface() override {
        unmap();
        if (window_)
            window_->removeEventFilter(this);
        auto& list = shared_->surfaces;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        if (shared_->pointerFocus == this)
            shared_->pointerFocus = nullptr;
        shared_->flush();
    }

    void show() override {
        if (surface_)
            return;
        const std::vector<OutputInfo> outputs = outputsNamed(shared_->connection->outputs(), {output_});
        if (outputs.empty()) {
            loseLater(QStringLiteral("the compositor knows no output %1").arg(output_));
            return;
        }
        const OutputInfo& o = outputs.front();
        scale_ = o.logical.isEmpty() ? o.scale : qreal(o.pixelSize().width()) / o.logical.width();
        if (!shared_->viewporter)
            scale_ = std::ceil(scale_ - 1e-9);
        origin_ = o.logical.topLeft();
        surface_.reset(wl_compositor_create_surface(shared_->compositor.get()));
        wl_surface_set_user_data(surface_.get(), this);
        layer_.reset(zwlr_layer_shell_v1_get_layer_surface(shared_->shell.get(), surface_.get(), o.output,
                                                           ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                           "glimra-capture"));
        zwlr_layer_surface_v1_add_listener(layer_.get(), &kLayerListener, this);
        zwlr_layer_surface_v1_set_anchor(
            layer_.get(), ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                              ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(layer_.get(), -1);
        applyInput();
        if (shared_->viewporter)
            viewport_.reset(wp_viewporter_get_viewport(shared_->viewporter.get(), surface_.get()));
        else
            wl_surface_set_buffer_scale(surface_.get(), int(scale_));
        // Committed without a buffer: the compositor answers with the surface's size.
        wl_surface_commit(surface_.get());
        shared_->flush();
    }

    void hide() override {
        unmap();
        shared_->flush();
    }

    bool isShown() const override { return presented_; }

    void display(const QRegion& region) override {
        damage_ += region;
        if (configured_ && !framePending_)
            draw();
    }

    void setPassesClicksThrough(bool passes) override {
        if (passes == passesClicks_)
            return;
        passesClicks_ = passes;
        if (surface_) {
            applyInput();
            wl_surface_commit(surface_.get());
            shared_->flush();
        }
    }

    void takeKeyboard() override {
        shared_->keyTarget = window_;
        // The window's focus widget gets focus events, as in a window the display server activated.
        if (window_)
            QApplication::setActiveWindow(window_);
    }

    void setCursor(Qt::CursorShape shape) override {
        cursor_ = shape;
        if (shared_->pointerFocus == this)
            shared_->applyCursor();
    }

    uint64_t id() const { return id_; }
    Qt::CursorShape cursor() const { return cursor_; }
    QWidget* window() const { return window_; }
    QPointF globalOf(QPointF local) const { return QPointF(origin_) + local; }
    qreal scale() const { return scale_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::UpdateRequest && surface_) {
            // A widget inside the window changed; the window's own picture comes through display().
            QRegion children;
            for (const QObject* child : window_->children())
                if (const auto* w = qobject_cast<const QWidget*>(child); w && w->isVisible())
                    children += w->geometry();
            if (!children.isEmpty())
                display(children);
        }
        return false;
    }

private:
    static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                          uint32_t height) {
        auto* self = static_cast<LayerSurface*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        const QSize size{int(width), int(height)};
        if (size != self->logicalSize_) {
            self->logicalSize_ = size;
            self->shared_->keepIdle(std::move(self->buffers_));
            self->buffers_.clear();
            if (self->viewport_)
                wp_viewport_set_destination(self->viewport_.get(), int(width), int(height));
        }
        self->configured_ = true;
        // The whole window, at once: the compositor shows the surface with its first buffer.
        self->damage_ = QRect(QPoint(), self->window_ ? self->window_->size() : size);
        if (!self->framePending_)
            self->draw();
    }
    static void closed(void* data, zwlr_layer_surface_v1*) {
        auto* self = static_cast<LayerSurface*>(data);
        self->loseLater(QStringLiteral("the compositor closed the overlay on %1").arg(self->output_));
    }
    static constexpr zwlr_layer_surface_v1_listener kLayerListener = {configure, closed};

    static void frameDone(void* data, wl_callback* callback, uint32_t) {
        auto* self = static_cast<LayerSurface*>(data);
        wl_callback_destroy(callback);
        self->frame_ = nullptr;
        self->framePending_ = false;
        self->presented_ = true;
        if (!self->damage_.isEmpty())
            self->draw();
    }
    static constexpr wl_callback_listener kFrameListener = {frameDone};

    void applyInput() {
        // An empty input region lets every click through; none set takes them all.
        if (passesClicks_) {
            wl_region* none = wl_compositor_create_region(shared_->compositor.get());
            wl_surface_set_input_region(surface_.get(), none);
            wl_region_destroy(none);
        } else {
            wl_surface_set_input_region(surface_.get(), nullptr);
        }
        zwlr_layer_surface_v1_set_keyboard_interactivity(layer_.get(), passesClicks_ ? 0 : 1);
    }

    void loseLater(const QString& why) {
        unmap();
        shared_->post([lost = lost_, why] {
            if (lost)
                lost(why);
        });
    }

    void unmap() {
        if (frame_)
            wl_callback_destroy(std::exchange(frame_, nullptr));
        viewport_.reset();
        layer_.reset();
        surface_.reset();
        // Released by the compositor once the surface is gone; ready for the next capture then.
        shared_->keepIdle(std::move(buffers_));
        buffers_.clear();
        configured_ = framePending_ = presented_ = false;
        logicalSize_ = QSize();
        damage_ = QRegion();
        if (shared_->pointerFocus == this)
            shared_->pointerFocus = nullptr;
    }

    Buffer* freeBuffer() {
        const QSize pixels = (QSizeF(logicalSize_) * scale_).toSize();
        for (auto& b : buffers_)
            if (!b->busy)
                return b.get();
        if (buffers_.size() >= 3)
            return nullptr;
        std::unique_ptr<Buffer> made = shared_->takeIdle(pixels);
        if (!made)
            made = Buffer::make(shared_->connection->shm(), pixels);
        if (!made) {
            logLine(QStringLiteral("no memory for the overlay's picture on %1").arg(output_));
            return nullptr;
        }
        made->stale = QRect(QPoint(), logicalSize_);
        buffers_.push_back(std::move(made));
        return buffers_.back().get();
    }

    void draw() {
        if (!window_ || !surface_ || logicalSize_.isEmpty() || damage_.isEmpty())
            return;
        Buffer* b = freeBuffer();
        if (!b)
            return; // every buffer is on screen: the next frame's release brings one back
        const QRegion region = (damage_ | b->stale) & QRect(QPoint(), logicalSize_);
        {
            QImage image(static_cast<uchar*>(b->memory), b->size.width(), b->size.height(),
                         b->size.width() * 4, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(scale_);
            QPainter painter(&image);
            paint_(painter, region);
        }
        for (auto& other : buffers_)
            if (other.get() != b)
                other->stale += damage_;
        b->stale = QRegion();
        damage_ = QRegion();
        wl_surface_attach(surface_.get(), b->buffer.get(), 0, 0);
        for (const QRect& r : region) {
            const QRect pixels =
                QRectF(QPointF(r.topLeft()) * scale_, QSizeF(r.size()) * scale_).toAlignedRect();
            wl_surface_damage_buffer(surface_.get(), pixels.x(), pixels.y(), pixels.width(), pixels.height());
        }
        frame_ = wl_surface_frame(surface_.get());
        wl_callback_add_listener(frame_, &kFrameListener, this);
        framePending_ = true;
        b->busy = true;
        wl_surface_commit(surface_.get());
        shared_->flush();
    }

    std::shared_ptr<LayerOverlay::Shared> shared_;
    uint64_t id_;
    QPointer<QWidget> window_;
    QString output_;
    OverlayDesktop::WindowPainter paint_;
    std::function<void(const QString&)> lost_;
    Owned<wl_surface, wl_surface_destroy> surface_;
    Owned<zwlr_layer_surface_v1, zwlr_layer_surface_v1_destroy> layer_;
    Owned<wp_viewport, wp_viewport_destroy> viewport_;
    wl_callback* frame_ = nullptr;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    QPoint origin_; // the output's top-left corner in the layout
    qreal scale_ = 1;
    QSize logicalSize_;
    QRegion damage_;
    bool configured_ = false;
    bool framePending_ = false;
    bool presented_ = false;
    bool passesClicks_ = false;
    Qt::CursorShape cursor_ = Qt::ArrowCursor;
};

uint64_t LayerOverlay::Shared::idOf(wl_surface* surface) const {
    // A surface destroyed before its event was dispatched comes as null.
    for (LayerSurface* s : surfaces)
        if (surface && wl_surface_get_user_data(surface) == s)
            return s->id();
    return 0;
}

LayerSurface* LayerOverlay::Shared::surfaceWithId(uint64_t id) const {
    for (LayerSurface* s : surfaces)
        if (id && s->id() == id)
            return s;
    return nullptr;
}

void LayerOverlay::Shared::applyCursor() {
    if (!pointer || !pointerFocus)
        return;
    const QCursor* override = QGuiApplication::overrideCursor();
    const Qt::CursorShape shape = override ? override->shape() : pointerFocus->cursor();
    const int scale = std::max(1, int(std::ceil(pointerFocus->scale() - 1e-9)));
    const QString name = shape == Qt::BlankCursor
                             ? QString()
                             : QStringLiteral("%1@%2").arg(QLatin1String(cursorName(shape))).arg(scale);
    if (cursorKnown && name == cursorShown)
        return;
    cursorKnown = true;
    cursorShown = name;
    if (name.isEmpty()) {
        wl_pointer_set_cursor(pointer.get(), enterSerial, nullptr, 0, 0);
        flush();
        return;
    }
    Owned<wl_cursor_theme, wl_cursor_theme_destroy>& theme = cursorThemes[scale];
    if (!theme) {
        const QByteArray themeName = qgetenv("XCURSOR_THEME");
        const int size = qEnvironmentVariableIntValue("XCURSOR_SIZE") > 0
                             ? qEnvironmentVariableIntValue("XCURSOR_SIZE")
                             : 24;
        theme.reset(wl_cursor_theme_load(themeName.isEmpty() ? nullptr : themeName.constData(), size * scale,
                                         connection->shm()));
    }
    wl_cursor* cursor = theme ? wl_cursor_theme_get_cursor(theme.get(), cursorName(shape)) : nullptr;
    if (!cursor && theme)
        cursor = wl_cursor_theme_get_cursor(theme.get(), cursorAlias(shape));
    if (!cursor && theme)
        cursor = wl_cursor_theme_get_cursor(theme.get(), "left_ptr");
    if (!cursor || cursor->image_count == 0) {
        // No theme to draw it with: the compositor's own pointer stays.
        return;
    }
    wl_cursor_image* image = cursor->images[0];
    if (!cursorSurface)
        cursorSurface.reset(wl_compositor_create_surface(compositor.get()));
    wl_surface_set_buffer_scale(cursorSurface.get(), scale);
    wl_surface_attach(cursorSurface.get(), wl_cursor_image_get_buffer(image), 0, 0);
    wl_surface_damage(cursorSurface.get(), 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(cursorSurface.get());
    wl_pointer_set_cursor(pointer.get(), enterSerial, cursorSurface.get(), int32_t(image->hotspot_x) / scale,
                          int32_t(image->hotspot_y) / scale);
    flush();
}

void LayerOverlay::Shared::keyEvent(uint32_t key, bool pressed, bool autoRepeat) {
    const std::unique_ptr<QKeyEvent> event = keys.event(key, pressed, autoRepeat);
    QWidget* target = keyTarget;
    if (!event || !target || !target->windowHandle())
        return;
    QCoreApplication::sendEvent(target->windowHandle(), event.get());
}

namespace {

Qt::MouseButton qtButton(uint32_t button) {
    switch (button) {
    case BTN_LEFT:
        return Qt::LeftButton;
    case BTN_RIGHT:
        return Qt::RightButton;
    case BTN_MIDDLE:
        return Qt::MiddleButton;
    default:
        return Qt::NoButton;
    }
}

// Hands a pointer event to the window of the surface the pointer is on (during a drag, the one it was
// pressed on), where Qt routes it to the widget under it.
void sendMouse(LayerOverlay::Shared& s, QEvent::Type type, Qt::MouseButton button) {
    LayerSurface* focus = s.pointerFocus;
    QWidget* window = focus ? focus->window() : nullptr;
    if (!window || !window->windowHandle())
        return;
    const QPointF local = s.pointerLocal;
    QMouseEvent event(type, local, local, focus->globalOf(local), button, s.buttons, s.keys.modifiers());
    QCoreApplication::sendEvent(window->windowHandle(), &event);
    if (s.pointerFocus)
        s.applyCursor(); // a handler may have hidden or shown the pointer
}

using Shared = LayerOverlay::Shared;

void pointerEnter(void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    auto* s = static_cast<Shared*>(data);
    s->post([s, serial, id = s->idOf(surface), at = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y))] {
        LayerSurface* focus = s->surfaceWithId(id);
        s->pointerFocus = focus;
        s->enterSerial = serial;
        s->cursorKnown = false;
        if (!focus)
            return;
        s->pointerLocal = at;
        s->pointerGlobal = focus->globalOf(at);
        s->applyCursor();
        sendMouse(*s, QEvent::MouseMove, Qt::NoButton);
    });
}

void pointerLeave(void* data, wl_pointer*, uint32_t, wl_surface* surface) {
    auto* s = static_cast<Shared*>(data);
    s->post([s, id = s->idOf(surface)] {
        if (s->pointerFocus && s->surfaceWithId(id) == s->pointerFocus)
            s->pointerFocus = nullptr;
    });
}

void pointerMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto* s = static_cast<Shared*>(data);
    s->post([s, at = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y))] {
        if (!s->pointerFocus)
            return;
        s->pointerLocal = at;
        s->pointerGlobal = s->pointerFocus->globalOf(at);
        sendMouse(*s, QEvent::MouseMove, Qt::NoButton);
    });
}

void pointerButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
    auto* s = static_cast<Shared*>(data);
    s->post([s, button = qtButton(button), pressed = state == WL_POINTER_BUTTON_STATE_PRESSED] {
        if (button == Qt::NoButton)
            return;
        s->buttons.setFlag(button, pressed);
        sendMouse(*s, pressed ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, button);
    });
}

void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void pointerFrame(void*, wl_pointer*) {}
void pointerAxisSource(void*, wl_pointer*, uint32_t) {}
void pointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void pointerAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
void pointerAxisValue120(void*, wl_pointer*, uint32_t, int32_t) {}

const wl_pointer_listener kPointerListener = {
    pointerEnter, pointerLeave,      pointerMotion,   pointerButton,       pointerAxis,
    pointerFrame, pointerAxisSource, pointerAxisStop, pointerAxisDiscrete, pointerAxisValue120};

void keyboardKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* s = static_cast<Shared*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            if (!s->keys.setKeymap(static_cast<const char*>(text), size))
                logLine(QStringLiteral("the compositor's keymap does not compile; keys keep the one before"));
            munmap(text, size);
        }
    }
    close(fd);
}

void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}

void keyboardLeave(void* data, wl_keyboard*, uint32_t, wl_surface*) {
    static_cast<Shared*>(data)->repeat.stop();
}

void keyboardKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    auto* s = static_cast<Shared*>(data);
    const bool pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    s->post([s, key, pressed] {
        if (pressed && s->repeatRate > 0 && s->keys.repeats(key)) {
            s->repeatKey = key;
            s->repeat.start(s->repeatDelay);
        } else if (!pressed && key == s->repeatKey) {
            s->repeat.stop();
        }
        s->keyEvent(key, pressed, false);
    });
}

void keyboardModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                       uint32_t locked, uint32_t group) {
    auto* s = static_cast<Shared*>(data);
    s->post([s, depressed, latched, locked, group] {
        s->keys.updateModifiers(depressed, latched, locked, group);
    });
}

void keyboardRepeatInfo(void* data, wl_keyboard*, int32_t rate, int32_t delay) {
    auto* s = static_cast<Shared*>(data);
    s->repeatRate = rate;
    s->repeatDelay = delay;
}

const wl_keyboard_listener kKeyboardListener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                                keyboardKey,    keyboardModifiers, keyboardRepeatInfo};

void seatCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* s = static_cast<Shared*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !s->pointer) {
        s->pointer.reset(wl_seat_get_pointer(seat));
        wl_pointer_add_listener(s->pointer.get(), &kPointerListener, s);
    } else if (!(capabilities & WL_SEAT_CAPABILITY_POINTER)) {
        s->pointer.reset();
    }
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !s->keyboard) {
        s->keyboard.reset(wl_seat_get_keyboard(seat));
        wl_keyboard_add_listener(s->keyboard.get(), &kKeyboardListener, s);
    } else if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
        s->keyboard.reset();
    }
}

void seatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {seatCapabilities, seatName};

} // namespace

LayerOverlay::LayerOverlay(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

LayerOverlay::~LayerOverlay() = default;

std::unique_ptr<LayerOverlay> LayerOverlay::create(std::shared_ptr<WaylandConnection> connection) {
    auto s = std::make_shared<Shared>();
    s->connection = std::move(connection);
    if (!s->connection || !s->connection->offers("zwlr_layer_shell_v1") || !s->connection->shm())
        return nullptr;
    s->compositor.reset(static_cast<wl_compositor*>(s->connection->bind(&wl_compositor_interface, 4)));
    s->shell.reset(static_cast<zwlr_layer_shell_v1*>(s->connection->bind(&zwlr_layer_shell_v1_interface, 3)));
    s->viewporter.reset(static_cast<wp_viewporter*>(s->connection->bind(&wp_viewporter_interface, 1)));
    s->seat.reset(static_cast<wl_seat*>(s->connection->bind(&wl_seat_interface, 5)));
    if (!s->compositor || !s->shell)
        return nullptr;
    if (s->seat)
        wl_seat_add_listener(s->seat.get(), &kSeatListener, s.get());
    else
        logLine(QStringLiteral("the compositor offers no seat: the overlay takes no pointer or keys"));
    s->deliver.setSingleShot(true);
    s->deliver.setInterval(0);
    QObject::connect(&s->deliver, &QTimer::timeout, [raw = s.get()] {
        // One at a time: a handler may run the event loop, which delivers the rest.
        while (!raw->pending.empty()) {
            std::function<void()> job = std::move(raw->pending.front());
            raw->pending.pop_front();
            job();
        }
    });
    s->releaseIdle.setSingleShot(true);
    s->releaseIdle.setInterval(std::chrono::minutes(1));
    QObject::connect(&s->releaseIdle, &QTimer::timeout, [raw = s.get()] { raw->idleBuffers.clear(); });
    QObject::connect(&s->repeat, &QTimer::timeout, [raw = s.get()] {
        raw->repeat.setInterval(1000 / std::max(1, raw->repeatRate));
        raw->keyEvent(raw->repeatKey, true, true);
    });
    s->connection->sync(); // the seat's capabilities and keymap
    return std::unique_ptr<LayerOverlay>(new LayerOverlay(std::move(s)));
}

std::unique_ptr<OverlaySurface> LayerOverlay::makeSurface(QWidget& window, const QString& screenName,
                                                          OverlayDesktop::WindowPainter paint,
                                                          std::function<void(const QString&)> lost) {
    if (outputsNamed(shared_->connection->outputs(), {screenName}).empty())
        return nullptr;
    return std::make_unique<LayerSurface>(shared_, window, screenName, std::move(paint), std::move(lost));
}

std::optional<QPointF> LayerOverlay::pointerPosition() const {
    return shared_->pointerGlobal;
}

bool LayerOverlay::sync() {
    return shared_->connection->sync();
}

} // namespace glimra::wayland
