// Copies through ext-image-copy-capture-v1, the compositor-neutral protocol: an output's image capture
// source, a session that describes the buffers it copies into, and one frame per copy.

#include "wayland/DirectCopier.h"

#include "ext-image-capture-source-v1-client-protocol.h"
#include "ext-image-copy-capture-v1-client-protocol.h"

#include <wayland-client.h>

#include <array>

namespace glimra::wayland {

namespace {

struct CaptureFrame : PendingCopy {
    CaptureFrame(const OutputInfo& o, ShmBuffers& b) : PendingCopy(o), buffers(b) {}
    ~CaptureFrame() override {
        if (frame)
            ext_image_copy_capture_frame_v1_destroy(frame);
        if (session)
            ext_image_copy_capture_session_v1_destroy(session);
        if (source)
            ext_image_capture_source_v1_destroy(source);
    }

    ShmBuffers& buffers;
    ext_image_capture_source_v1* source = nullptr;
    ext_image_copy_capture_session_v1* session = nullptr;
    ext_image_copy_capture_frame_v1* frame = nullptr;
};

void frameTransform(void* data, ext_image_copy_capture_frame_v1*, uint32_t transform) {
    static_cast<CaptureFrame*>(data)->layout.transform = int(transform & 7);
}

void frameDamage(void*, ext_image_copy_capture_frame_v1*, int32_t, int32_t, int32_t, int32_t) {}

void framePresentationTime(void*, ext_image_copy_capture_frame_v1*, uint32_t, uint32_t, uint32_t) {}

void frameReady(void* data, ext_image_copy_capture_frame_v1*) {
    static_cast<CaptureFrame*>(data)->state = PendingCopy::State::Ready;
}

void frameFailed(void* data, ext_image_copy_capture_frame_v1*, uint32_t reason) {
    static const std::array<const char*, 3> reasons = {"for a reason it did not tell",
                                                       "the buffer does not meet its constraints",
                                                       "the capture session stopped"};
    static_cast<CaptureFrame*>(data)->fail(
        QStringLiteral("the compositor refused the copy: %1")
            .arg(QLatin1String(reason < reasons.size() ? reasons[reason] : reasons[0])));
}

const ext_image_copy_capture_frame_v1_listener kFrameListener = {
    frameTransform, frameDamage, framePresentationTime, frameReady, frameFailed};

void sessionBufferSize(void* data, ext_image_copy_capture_session_v1*, uint32_t width, uint32_t height) {
    auto* c = static_cast<CaptureFrame*>(data);
    c->layout.size = QSize(int(std::min(width, 65535u)), int(std::min(height, 65535u)));
    c->layout.stride = c->layout.size.width() * 4; // the client's choice on this road
}

void sessionShmFormat(void* data, ext_image_copy_capture_session_v1*, uint32_t format) {
    static_cast<CaptureFrame*>(data)->offer(format);
}

void sessionDmabufDevice(void*, ext_image_copy_capture_session_v1*, wl_array*) {}

void sessionDmabufFormat(void*, ext_image_copy_capture_session_v1*, uint32_t, wl_array*) {}

void sessionDone(void* data, ext_image_copy_capture_session_v1* session) {
    auto* c = static_cast<CaptureFrame*>(data);
    if (c->state != PendingCopy::State::Describing) // constraints sent again during the copy
        return;
    wl_buffer* buffer = c->prepareBuffer(c->buffers);
    if (!buffer)
        return;
    c->frame = ext_image_copy_capture_session_v1_create_frame(session);
    ext_image_copy_capture_frame_v1_add_listener(c->frame, &kFrameListener, c);
    ext_image_copy_capture_frame_v1_attach_buffer(c->frame, buffer);
    ext_image_copy_capture_frame_v1_damage_buffer(c->frame, 0, 0, c->layout.size.width(),
                                                  c->layout.size.height());
    ext_image_copy_capture_frame_v1_capture(c->frame);
}

void sessionStopped(void* data, ext_image_copy_capture_session_v1*) {
    auto* c = static_cast<CaptureFrame*>(data);
    if (!c->finished())
        c->fail(QStringLiteral("the compositor ended the capture session"));
}

const ext_image_copy_capture_session_v1_listener kSessionListener = {sessionBufferSize,   sessionShmFormat,
                                                                     sessionDmabufDevice, sessionDmabufFormat,
                                                                     sessionDone,         sessionStopped};

class ImageCopyCaptureCopier : public DirectCopier {
public:
    ImageCopyCaptureCopier(std::shared_ptr<WaylandConnection> connection,
                           ext_image_copy_capture_manager_v1* manager,
                           ext_output_image_capture_source_manager_v1* sources)
        : DirectCopier(std::move(connection)), manager_(manager), sources_(sources) {}
    ~ImageCopyCaptureCopier() override {
        ext_image_copy_capture_manager_v1_destroy(manager_);
        ext_output_image_capture_source_manager_v1_destroy(sources_);
    }

    QString road() const override { return QStringLiteral("ext-image-copy-capture"); }

protected:
    std::unique_ptr<PendingCopy> request(const OutputInfo& output) override {
        auto c = std::make_unique<CaptureFrame>(output, buffers_);
        c->source = ext_output_image_capture_source_manager_v1_create_source(sources_, output.output);
        c->session = ext_image_copy_capture_manager_v1_create_session(manager_, c->source, 0);
        ext_image_copy_capture_session_v1_add_listener(c->session, &kSessionListener, c.get());
        return c;
    }

private:
    ext_image_copy_capture_manager_v1* manager_;
    ext_output_image_capture_source_manager_v1* sources_;
};

} // namespace

std::unique_ptr<OutputCopier> makeImageCopyCaptureCopier(std::shared_ptr<WaylandConnection> connection) {
    if (!connection || !connection->shm())
        return nullptr;
    if (!connection->offers(ext_image_copy_capture_manager_v1_interface.name) ||
        !connection->offers(ext_output_image_capture_source_manager_v1_interface.name)) {
        logLine(QStringLiteral("the compositor offers no ext_image_copy_capture_manager_v1 for outputs"));
        return nullptr;
    }
    auto* manager = static_cast<ext_image_copy_capture_manager_v1*>(
        connection->bind(&ext_image_copy_capture_manager_v1_interface, 1));
    auto* sources = static_cast<ext_output_image_capture_source_manager_v1*>(
        connection->bind(&ext_output_image_capture_source_manager_v1_interface, 1));
    return std::make_unique<ImageCopyCaptureCopier>(std::move(connection), manager, sources);
}

} // namespace glimra::wayland
