#include "TestCompositor.h"

#include "WaylandTestKit.h"

#include "ext-image-capture-source-v1-server-protocol.h"
#include "ext-image-copy-capture-v1-server-protocol.h"
#include "wlr-screencopy-unstable-v1-server-protocol.h"

#include <wayland-server.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace glimra::test {

namespace {

using Behaviour = TestCompositor::Behaviour;

const Behaviour& behaviourOf(wl_resource* r) {
    return *static_cast<const Behaviour*>(wl_resource_get_user_data(r));
}

void destroyResource(wl_client*, wl_resource* r) {
    wl_resource_destroy(r);
}

// Binds a manager global to its requests, with the compositor's behaviour as its data.
template <const wl_interface* interface, auto* requests>
void bindManager(wl_client* client, void* data, uint32_t version, uint32_t id) {
    wl_resource* r = wl_resource_create(client, interface, int(version), id);
    wl_resource_set_implementation(r, requests, data, nullptr);
}

// ---- wl_output ----
const struct wl_output_interface kOutput = {destroyResource};

void bindOutput(wl_client* client, void* data, uint32_t version, uint32_t id) {
    const auto& o = *static_cast<const TestCompositor::Output*>(data);
    const Behaviour& b = *o.behaviour;
    wl_resource* r = wl_resource_create(client, &wl_output_interface, int(version), id);
    wl_resource_set_implementation(r, &kOutput, data, nullptr);
    wl_output_send_geometry(r, o.x, 0, 0, 0, WL_OUTPUT_SUBPIXEL_UNKNOWN, "test", "test", b.transform);
    wl_output_send_mode(r, WL_OUTPUT_MODE_CURRENT, b.buffer.width(), b.buffer.height(), 60000);
    if (version >= WL_OUTPUT_SCALE_SINCE_VERSION)
        wl_output_send_scale(r, 1);
    if (version >= WL_OUTPUT_NAME_SINCE_VERSION)
        wl_output_send_name(r, o.name);
    if (version >= WL_OUTPUT_DONE_SINCE_VERSION)
        wl_output_send_done(r);
}

// ---- ext-image-capture-source ----
const struct ext_image_capture_source_v1_interface kSource = {destroyResource};

void createSource(wl_client* client, wl_resource* manager, uint32_t id, wl_resource*) {
    wl_resource* r = wl_resource_create(client, &ext_image_capture_source_v1_interface, 1, id);
    wl_resource_set_implementation(r, &kSource, wl_resource_get_user_data(manager), nullptr);
}

const struct ext_output_image_capture_source_manager_v1_interface kSources = {createSource, destroyResource};

// Writes the picture into a client's shm buffer; false when the buffer does not fit it.
bool writePicture(wl_resource* buffer, const Behaviour& b) {
    wl_shm_buffer* shm = buffer ? wl_shm_buffer_get(buffer) : nullptr;
    if (!shm || wl_shm_buffer_get_width(shm) != b.buffer.width() ||
        wl_shm_buffer_get_height(shm) != b.buffer.height())
        return false;
    wl_shm_buffer_begin_access(shm);
    auto* data = static_cast<uchar*>(wl_shm_buffer_get_data(shm));
    const int height = b.buffer.height();
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + qsizetype(b.yInvert ? height - 1 - y : y) *
                                                           wl_shm_buffer_get_stride(shm));
        for (int x = 0; x < b.buffer.width(); ++x)
            row[x] = b.buffer.pixel(x, y) & 0xffffff; // the padding byte left 0, as XRGB8888 may
    }
    wl_shm_buffer_end_access(shm);
    return true;
}

// ---- wlroots' screencopy ----
void screencopyCopy(wl_client*, wl_resource* frame, wl_resource* buffer) {
    const Behaviour& b = behaviourOf(frame);
    if (b.end != TestCompositor::End::Ready || !writePicture(buffer, b))
        return zwlr_screencopy_frame_v1_send_failed(frame);
    zwlr_screencopy_frame_v1_send_flags(frame, b.yInvert ? ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT : 0);
    zwlr_screencopy_frame_v1_send_ready(frame, 0, 0, 0);
}

const struct zwlr_screencopy_frame_v1_interface kScreencopyFrame = {screencopyCopy, destroyResource,
                                                                    screencopyCopy};

void captureOutput(wl_client* client, wl_resource* manager, uint32_t id, int32_t, wl_resource*) {
    const Behaviour& b = behaviourOf(manager);
    wl_resource* r =
        wl_resource_create(client, &zwlr_screencopy_frame_v1_interface, wl_resource_get_version(manager), id);
    wl_resource_set_implementation(r, &kScreencopyFrame, wl_resource_get_user_data(manager), nullptr);
    const uint32_t format = b.readableFormat ? WL_SHM_FORMAT_XRGB8888 : WL_SHM_FORMAT_RGB565;
    zwlr_screencopy_frame_v1_send_buffer(r, format, uint32_t(b.buffer.width()), uint32_t(b.buffer.height()),
                                         uint32_t(b.stride ? b.stride : b.buffer.width() * 4));
    if (wl_resource_get_version(r) >= ZWLR_SCREENCOPY_FRAME_V1_BUFFER_DONE_SINCE_VERSION)
        zwlr_screencopy_frame_v1_send_buffer_done(r);
}

void captureOutputRegion(wl_client*, wl_resource* manager, uint32_t, int32_t, wl_resource*, int32_t, int32_t,
                         int32_t, int32_t) {
    wl_resource_post_error(manager, 0, "not offered here");
}

const struct zwlr_screencopy_manager_v1_interface kScreencopy = {captureOutput, captureOutputRegion,
                                                                 destroyResource};

// ---- ext-image-copy-capture ----
struct FrameState {
    wl_resource* session;
    wl_resource* buffer = nullptr;
};

void attachBuffer(wl_client*, wl_resource* frame, wl_resource* buffer) {
    static_cast<FrameState*>(wl_resource_get_user_data(frame))->buffer = buffer;
}

void damageBuffer(wl_client*, wl_resource*, int32_t, int32_t, int32_t, int32_t) {}

void capture(wl_client*, wl_resource* frame) {
    auto* state = static_cast<FrameState*>(wl_resource_get_user_data(frame));
    const Behaviour& b = behaviourOf(state->session);
    using End = TestCompositor::End;
    if (b.end == End::Stopped)
        ext_image_copy_capture_session_v1_send_stopped(state->session);
    if (b.end != End::Ready || !writePicture(state->buffer, b))
        return ext_image_copy_capture_frame_v1_send_failed(
            frame, b.end == End::Failed ? EXT_IMAGE_COPY_CAPTURE_FRAME_V1_FAILURE_REASON_UNKNOWN
                   : b.end == End::Stopped
                       ? EXT_IMAGE_COPY_CAPTURE_FRAME_V1_FAILURE_REASON_STOPPED
                       : EXT_IMAGE_COPY_CAPTURE_FRAME_V1_FAILURE_REASON_BUFFER_CONSTRAINTS);
    ext_image_copy_capture_frame_v1_send_transform(frame, uint32_t(b.transform));
    ext_image_copy_capture_frame_v1_send_damage(frame, 0, 0, b.buffer.width(), b.buffer.height());
    ext_image_copy_capture_frame_v1_send_ready(frame);
}

const struct ext_image_copy_capture_frame_v1_interface kFrame = {destroyResource, attachBuffer, damageBuffer,
                                                                 capture};

void createFrame(wl_client* client, wl_resource* session, uint32_t id) {
    wl_resource* r = wl_resource_create(client, &ext_image_copy_capture_frame_v1_interface, 1, id);
    wl_resource_set_implementation(r, &kFrame, new FrameState{session}, [](wl_resource* f) {
        delete static_cast<FrameState*>(wl_resource_get_user_data(f));
    });
}

const struct ext_image_copy_capture_session_v1_interface kSession = {createFrame, destroyResource};

void createSession(wl_client* client, wl_resource* manager, uint32_t id, wl_resource*, uint32_t) {
    const Behaviour& b = behaviourOf(manager);
    wl_resource* r = wl_resource_create(client, &ext_image_copy_capture_session_v1_interface, 1, id);
    wl_resource_set_implementation(r, &kSession, wl_resource_get_user_data(manager), nullptr);
    ext_image_copy_capture_session_v1_send_buffer_size(r, uint32_t(b.buffer.width()),
                                                       uint32_t(b.buffer.height()));
    ext_image_copy_capture_session_v1_send_shm_format(r, WL_SHM_FORMAT_RGB565);
    if (b.readableFormat)
        ext_image_copy_capture_session_v1_send_shm_format(r, WL_SHM_FORMAT_XRGB8888);
    ext_image_copy_capture_session_v1_send_done(r);
}

void createCursorSession(wl_client*, wl_resource* manager, uint32_t, wl_resource*, wl_resource*) {
    wl_resource_post_error(manager, 0, "not offered here");
}

const struct ext_image_copy_capture_manager_v1_interface kManager = {createSession, createCursorSession,
                                                                     destroyResource};

} // namespace

TestCompositor::TestCompositor(const QString& socketPath, Behaviour behaviour)
    : behaviour_(std::move(behaviour)) {
    const int fd = listeningSocket(socketPath);
    wl_display* display = wl_display_create();
    if (fd < 0 || wl_display_add_socket_fd(display, fd) != 0 || wl_display_init_shm(display) != 0) {
        if (fd >= 0)
            close(fd);
        wl_display_destroy(display);
        return;
    }
    display_ = display;
    void* data = &behaviour_;
    second_.x = behaviour_.buffer.width();
    wl_global_create(display, &wl_output_interface, 4, &first_, bindOutput);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wakeSource_ = wl_event_loop_add_fd(
        wl_display_get_event_loop(display), wake_, WL_EVENT_READABLE,
        [](int, uint32_t, void* self) {
            static_cast<TestCompositor*>(self)->serveWake();
            return 0;
        },
        this);
    if (behaviour_.screencopy) {
        wl_global_create(display, &zwlr_screencopy_manager_v1_interface, 3, data,
                         bindManager<&zwlr_screencopy_manager_v1_interface, &kScreencopy>);
    } else {
        wl_global_create(display, &ext_output_image_capture_source_manager_v1_interface, 1, data,
                         bindManager<&ext_output_image_capture_source_manager_v1_interface, &kSources>);
        wl_global_create(display, &ext_image_copy_capture_manager_v1_interface, 1, data,
                         bindManager<&ext_image_copy_capture_manager_v1_interface, &kManager>);
    }
    thread_ = std::thread([this] {
        wl_event_loop* loop = wl_display_get_event_loop(display_);
        while (running_) {
            wl_event_loop_dispatch(loop, 20);
            wl_display_flush_clients(display_);
        }
    });
}

TestCompositor::~TestCompositor() {
    if (!display_)
        return;
    running_ = false;
    thread_.join();
    if (wakeSource_)
        wl_event_source_remove(wakeSource_); // the loop frees only the sources it made itself
    wl_display_destroy_clients(display_);
    wl_display_destroy(display_);
    close(wake_);
}

void TestCompositor::plugSecondOutput(bool plugged) {
    secondWanted_ = plugged;
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof(one));
}

// On the compositor's thread, which alone may touch its globals.
void TestCompositor::serveWake() {
    uint64_t count;
    (void)!read(wake_, &count, sizeof(count));
    if (secondWanted_ && !secondGlobal_)
        secondGlobal_ = wl_global_create(display_, &wl_output_interface, 4, &second_, bindOutput);
    else if (!secondWanted_ && secondGlobal_)
        wl_global_destroy(std::exchange(secondGlobal_, nullptr));
}

} // namespace glimra::test
