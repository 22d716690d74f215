// Copies through wlroots' screencopy protocol (sway, Hyprland, river, labwc...).

#include "wayland/DirectCopier.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

namespace glimra::wayland {

namespace {

constexpr uint32_t kMaxVersion = 3;

struct ScreencopyFrame : PendingCopy {
    ScreencopyFrame(const OutputInfo& o, ShmBuffers& b, uint32_t v)
        : PendingCopy(o), buffers(b), version(v) {}
    ~ScreencopyFrame() override {
        if (frame)
            zwlr_screencopy_frame_v1_destroy(frame);
    }

    void copy() {
        if (wl_buffer* b = prepareBuffer(buffers))
            zwlr_screencopy_frame_v1_copy(frame, b);
    }

    ShmBuffers& buffers;
    uint32_t version;
    zwlr_screencopy_frame_v1* frame = nullptr;
};

void frameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
                 uint32_t stride) {
    auto* f = static_cast<ScreencopyFrame*>(data);
    if (f->offer(format)) {
        f->layout.size = QSize(int(std::min(width, 65535u)), int(std::min(height, 65535u)));
        f->layout.stride = int(std::min(stride, 1u << 20));
    }
    if (f->version < 3) // no buffer_done: this was the only buffer event
        f->copy();
}

void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<ScreencopyFrame*>(data)->layout.yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<ScreencopyFrame*>(data)->state = PendingCopy::State::Ready;
}

void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<ScreencopyFrame*>(data)->fail(QStringLiteral("the compositor refused the copy"));
}

void frameDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}

void frameDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}

void frameBufferDone(void* data, zwlr_screencopy_frame_v1*) {
    auto* f = static_cast<ScreencopyFrame*>(data);
    if (f->state == PendingCopy::State::Describing)
        f->copy();
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    frameBuffer, frameFlags, frameReady, frameFailed, frameDamage, frameDmabuf, frameBufferDone};

class ScreencopyCopier : public DirectCopier {
public:
    ScreencopyCopier(std::shared_ptr<WaylandConnection> connection, zwlr_screencopy_manager_v1* manager,
                     uint32_t version)
        : DirectCopier(std::move(connection)), manager_(manager), version_(version) {}
    ~ScreencopyCopier() override { zwlr_screencopy_manager_v1_destroy(manager_); }

    QString road() const override { return QStringLiteral("wlr-screencopy"); }

protected:
    std::unique_ptr<PendingCopy> request(const OutputInfo& output) override {
        auto f = std::make_unique<ScreencopyFrame>(output, buffers_, version_);
        f->frame = zwlr_screencopy_manager_v1_capture_output(manager_, 0, output.output);
        zwlr_screencopy_frame_v1_add_listener(f->frame, &kFrameListener, f.get());
        return f;
    }

private:
    zwlr_screencopy_manager_v1* manager_;
    uint32_t version_;
};

} // namespace

std::unique_ptr<OutputCopier> makeScreencopyCopier(std::shared_ptr<WaylandConnection> connection) {
    if (!connection || !connection->shm())
        return nullptr;
    uint32_t version = 0;
    auto* manager = static_cast<zwlr_screencopy_manager_v1*>(
        connection->bind(&zwlr_screencopy_manager_v1_interface, kMaxVersion, &version));
    if (!manager) {
        logLine(QStringLiteral("the compositor offers no zwlr_screencopy_manager_v1"));
        return nullptr;
    }
    return std::make_unique<ScreencopyCopier>(std::move(connection), manager, version);
}

} // namespace glimra::wayland
