// Copies through wlroots' screencopy protocol (sway, Hyprland, river, labwc...): every output's frame
// is requested at once, then one dispatch loop waits until each is ready or failed.

#include "wayland/OutputCopier.h"
#include "wayland/ShmBuffers.h"
#include "wayland/WaylandConnection.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>

namespace glimra::wayland {

namespace {

constexpr uint32_t kMaxVersion = 3;

struct Frame {
    OutputInfo output;
    ShmBuffers* buffers = nullptr;
    uint32_t version = 1;
    zwlr_screencopy_frame_v1* frame = nullptr;
    FrameLayout layout;
    bool haveShm = false;
    QList<uint32_t> offered; // formats seen, for the log line when none is readable
    std::unique_ptr<PixelBuffer> buffer;
    enum class State { Describing, Copying, Ready, Failed } state = State::Describing;

    ~Frame() {
        if (frame)
            zwlr_screencopy_frame_v1_destroy(frame);
    }

    bool finished() const { return state == State::Ready || state == State::Failed; }

    void fail(const QString& why) {
        logLine(QStringLiteral("copying output %1 failed: %2").arg(output.name, why));
        state = State::Failed;
    }

    void copy() {
        if (!haveShm) {
            QStringList formats;
            for (uint32_t f : offered)
                formats << QStringLiteral("0x%1").arg(f, 8, 16, QLatin1Char('0'));
            fail(QStringLiteral("the compositor offers no buffer format read here (offered: %1)")
                     .arg(formats.isEmpty() ? QStringLiteral("none") : formats.join(QStringLiteral(", "))));
            return;
        }
        buffer = buffers->take(std::size_t(layout.stride) * std::size_t(layout.size.height()));
        if (!buffer) {
            fail(QStringLiteral("no memory for its buffer"));
            return;
        }
        zwlr_screencopy_frame_v1_copy(frame, buffers->wlBuffer(*buffer, layout));
        state = State::Copying;
    }
};

void frameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
                 uint32_t stride) {
    auto* f = static_cast<Frame*>(data);
    f->offered << format;
    const bool sane = width > 0 && height > 0 && width <= 32768 && height <= 32768 && stride >= width * 4;
    if (!f->haveShm && readableFormat(format) && sane) {
        f->layout.format = format;
        f->layout.size = QSize(int(width), int(height));
        f->layout.stride = int(stride);
        f->haveShm = true;
    }
    if (f->version < 3) // no buffer_done: this was the only buffer event
        f->copy();
}

void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<Frame*>(data)->layout.yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<Frame*>(data)->state = Frame::State::Ready;
}

void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<Frame*>(data)->fail(QStringLiteral("the compositor refused the copy"));
}

void frameDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}

void frameDmabuf(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t, uint32_t) {
    static_cast<Frame*>(data)->offered << format;
}

void frameBufferDone(void* data, zwlr_screencopy_frame_v1*) {
    auto* f = static_cast<Frame*>(data);
    if (f->state == Frame::State::Describing)
        f->copy();
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    frameBuffer, frameFlags, frameReady, frameFailed, frameDamage, frameDmabuf, frameBufferDone};

class ScreencopyCopier : public OutputCopier {
public:
    ScreencopyCopier(std::shared_ptr<WaylandConnection> connection, zwlr_screencopy_manager_v1* manager,
                     uint32_t version)
        : connection_(std::move(connection)), manager_(manager), version_(version),
          buffers_(connection_->shm()) {}
    ~ScreencopyCopier() override {
        buffers_.release();
        zwlr_screencopy_manager_v1_destroy(manager_);
    }

    QString road() const override { return QStringLiteral("wlr-screencopy"); }

    void copyOutputs(const QStringList& names, Done done) override {
        buffers_.collect();
        if (!connection_->sync()) // outputs that came or went meanwhile
            return done({});
        const std::vector<OutputInfo> outputs = outputsNamed(connection_->outputs(), names);
        if (outputs.empty())
            return done({});
        std::vector<std::unique_ptr<Frame>> frames;
        for (const OutputInfo& output : outputs) {
            auto f = std::make_unique<Frame>();
            f->output = output;
            f->buffers = &buffers_;
            f->version = version_;
            f->layout.transform = output.transform;
            f->frame = zwlr_screencopy_manager_v1_capture_output(manager_, 0, output.output);
            zwlr_screencopy_frame_v1_add_listener(f->frame, &kFrameListener, f.get());
            frames.push_back(std::move(f));
        }
        const auto allFinished = [&] {
            return std::all_of(frames.begin(), frames.end(), [](const auto& f) { return f->finished(); });
        };
        const bool answered = connection_->dispatchUntil(allFinished, Clock::now() + connection_->timeout(),
                                                         QStringLiteral("copying outputs"));
        std::vector<OutputImage> images;
        bool ok = answered;
        for (auto& f : frames) {
            if (f->state != Frame::State::Ready) {
                // A buffer the compositor may still write into is not used again.
                f->buffer.reset();
                ok = false;
                continue;
            }
            QImage image = buffers_.finish(std::move(f->buffer), f->layout);
            ok = ok && !image.isNull();
            images.push_back({f->output.name, f->output.logical, std::move(image)});
        }
        frames.clear();
        buffers_.collect();
        if (!ok)
            images.clear();
        done(std::move(images));
    }

    void warmUp() override {
        buffers_.collect();
        buffers_.warmUp(copyBytes(connection_->outputs()));
    }

    void releaseBuffers() override { buffers_.release(); }

private:
    std::shared_ptr<WaylandConnection> connection_;
    zwlr_screencopy_manager_v1* manager_;
    uint32_t version_;
    ShmBuffers buffers_;
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
