#pragma once
// What each output of a wlroots compositor (sway) shows, read back through wlroots' screencopy on a
// Wayland connection of the benchmark's own: each output's picture now, and from then on each frame the
// output shows with damage, with the time the compositor committed it (the `ready` event's
// CLOCK_MONOTONIC time, the clock of std::chrono::steady_clock). A frame is judged by a few probe pixels
// picked from the picture taken before (Dimming.h), so the overlay's first frame on each output is
// found without a tree event or a copy of the whole screen per poll. Waits run the Qt event loop, so a
// window of the benchmark itself can draw meanwhile.

#include "Dimming.h"
#include "Spin.h"
#include "wayland/WaylandConnection.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QSocketNotifier>

#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace benchmain {

class OutputFrames {
public:
    OutputFrames() : connection_(glimra::wayland::WaylandConnection::connect()) {
        if (!connection_ || !connection_->shm())
            return;
        manager_ = static_cast<zwlr_screencopy_manager_v1*>(
            connection_->bind(&zwlr_screencopy_manager_v1_interface, 3, &version_));
        for (const glimra::wayland::OutputInfo& info : connection_->outputs())
            outputs_.push_back(std::make_unique<Output>(info, *this));
        notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(connection_->display()),
                                                      QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [this] { connection_->dispatchAvailable(); });
    }
    ~OutputFrames() {
        notifier_.reset();
        outputs_.clear();
        if (manager_)
            zwlr_screencopy_manager_v1_destroy(manager_);
        if (connection_)
            wl_display_flush(connection_->display());
    }
    OutputFrames(const OutputFrames&) = delete;
    OutputFrames& operator=(const OutputFrames&) = delete;

    // False (with a line on stderr) without a compositor that offers screencopy and outputs.
    bool ok() const {
        if (manager_ && !outputs_.empty())
            return true;
        std::fprintf(stderr, "no Wayland compositor with zwlr_screencopy_manager_v1 and outputs\n");
        return false;
    }
    std::size_t count() const { return outputs_.size(); }
    QString name(std::size_t i) const { return outputs_[i]->info.name; }

    // Copies every output as it is now and picks each one's probe points from its picture; false when
    // a copy failed.
    bool remember(int timeoutMs = 5000) {
        for (auto& o : outputs_)
            arm(*o, false);
        const bool copied = spin(
            [&] {
                return std::all_of(outputs_.begin(), outputs_.end(),
                                   [](const auto& o) { return o->state != Output::Waiting; });
            },
            timeoutMs);
        bool all = copied;
        for (auto& o : outputs_) {
            all = all && o->state == Output::Ready;
            if (o->state == Output::Ready) {
                const std::vector<Point> grid = gridPoints(0, 0, o->size.width(), o->size.height());
                o->probe = DimmingProbe(grid, o->pixels(grid));
            }
        }
        return all;
    }

    // From now on, each frame every output (or the one numbered `only`) shows with damage until one
    // passes look at its probe points (against the picture remember() took): per output, the time the
    // compositor showed that frame, in ms on steady_clock; nullopt for an output where none came within
    // timeoutMs, or that was not watched.
    std::vector<std::optional<double>> firstFrames(const DimmingProbe::Look& look, int timeoutMs,
                                                   std::optional<std::size_t> only = std::nullopt) {
        std::vector<std::optional<double>> shown(outputs_.size());
        const auto watched = [&](std::size_t i) { return !only || *only == i; };
        for (std::size_t i = 0; i < outputs_.size(); ++i)
            if (watched(i))
                arm(*outputs_[i], true);
        spin(
            [&] {
                bool all = true;
                for (std::size_t i = 0; i < outputs_.size(); ++i) {
                    Output& o = *outputs_[i];
                    if (!watched(i))
                        continue;
                    if (!shown[i] && o.state == Output::Ready &&
                        o.probe.holds(look, o.pixels(o.probe.points())))
                        shown[i] = o.shownAt;
                    else if (!shown[i] && o.state != Output::Waiting)
                        arm(o, true); // copied again at the next frame with damage
                    all = all && shown[i];
                }
                return all;
            },
            timeoutMs);
        for (auto& o : outputs_)
            o->dropFrame();
        return shown;
    }

private:
    // One output: its frame in flight, and the shared memory the compositor copies it into.
    struct Output {
        enum State { Idle, Waiting, Ready, Failed };

        Output(const glimra::wayland::OutputInfo& i, OutputFrames& o) : info(i), owner(o) {}
        ~Output() {
            dropFrame();
            if (buffer)
                wl_buffer_destroy(buffer);
            if (memory != MAP_FAILED)
                munmap(memory, bytes);
        }
        void dropFrame() {
            if (frame)
                zwlr_screencopy_frame_v1_destroy(std::exchange(frame, nullptr));
        }
        std::vector<uint32_t> pixels(const std::vector<Point>& points) const {
            std::vector<uint32_t> out;
            for (const Point& p : points) {
                const int row = yInvert ? size.height() - 1 - p.y : p.y;
                out.push_back(
                    static_cast<const uint32_t*>(memory)[std::size_t(row) * std::size_t(stride / 4) + p.x] &
                    0xffffff);
            }
            return out;
        }
        // A buffer of the layout the compositor asked for, then the copy.
        void copy() {
            const std::size_t need = std::size_t(stride) * std::size_t(size.height());
            if (!buffer || need != bytes || bufferLayout != std::make_tuple(format, size, stride)) {
                if (buffer)
                    wl_buffer_destroy(std::exchange(buffer, nullptr));
                if (memory != MAP_FAILED)
                    munmap(std::exchange(memory, MAP_FAILED), bytes);
                bytes = need;
                const int fd = memfd_create("bench-frame", MFD_CLOEXEC);
                if (fd < 0 || ftruncate(fd, off_t(bytes)) != 0 ||
                    (memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) ==
                        MAP_FAILED) {
                    if (fd >= 0)
                        close(fd);
                    state = Failed;
                    return;
                }
                wl_shm_pool* pool = wl_shm_create_pool(owner.connection_->shm(), fd, int32_t(bytes));
                buffer = wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), stride, format);
                wl_shm_pool_destroy(pool);
                close(fd);
                bufferLayout = {format, size, stride};
            }
            if (withDamage)
                zwlr_screencopy_frame_v1_copy_with_damage(frame, buffer);
            else
                zwlr_screencopy_frame_v1_copy(frame, buffer);
        }

        glimra::wayland::OutputInfo info;
        OutputFrames& owner;
        zwlr_screencopy_frame_v1* frame = nullptr;
        bool withDamage = false;
        State state = Idle;
        double shownAt = 0;
        uint32_t format = 0;
        QSize size;
        int stride = 0;
        bool yInvert = false;
        wl_buffer* buffer = nullptr;
        void* memory = MAP_FAILED;
        std::size_t bytes = 0;
        std::tuple<uint32_t, QSize, int> bufferLayout;
        DimmingProbe probe;
    };

    void arm(Output& o, bool withDamage) {
        o.dropFrame();
        o.withDamage = withDamage;
        o.state = Output::Waiting;
        o.frame = zwlr_screencopy_manager_v1_capture_output(manager_, 0, o.info.output);
        static constexpr zwlr_screencopy_frame_v1_listener listener = {
            [](void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
               uint32_t stride) {
                auto* o = static_cast<Output*>(data);
                // XRGB8888 or ARGB8888: each pixel one 0xAARRGGBB word.
                if (format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888) {
                    o->format = format;
                    o->size = QSize(int(width), int(height));
                    o->stride = int(stride);
                }
                if (o->owner.version_ < 3) // no buffer_done: this was the only buffer event
                    o->copy();
            },
            [](void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
                static_cast<Output*>(data)->yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
            },
            [](void* data, zwlr_screencopy_frame_v1*, uint32_t secondsHigh, uint32_t secondsLow,
               uint32_t nanoseconds) {
                auto* o = static_cast<Output*>(data);
                o->shownAt = double((uint64_t(secondsHigh) << 32) | secondsLow) * 1e3 + nanoseconds / 1e6;
                o->state = Output::Ready;
            },
            [](void* data, zwlr_screencopy_frame_v1*) { static_cast<Output*>(data)->state = Output::Failed; },
            [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {},
            [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {},
            [](void* data, zwlr_screencopy_frame_v1*) { static_cast<Output*>(data)->copy(); }};
        zwlr_screencopy_frame_v1_add_listener(o.frame, &listener, &o);
        wl_display_flush(connection_->display());
    }

    std::unique_ptr<glimra::wayland::WaylandConnection> connection_;
    zwlr_screencopy_manager_v1* manager_ = nullptr;
    uint32_t version_ = 0;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace benchmain
