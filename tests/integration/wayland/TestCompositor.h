#pragma once
// A compositor of the test's own, serving from a thread: one output ("TEST-1"), wl_shm and the
// ext-image-copy-capture globals (or wlroots' screencopy instead), copying a picture of the test's
// choice or failing as asked.

#include <QImage>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

struct wl_display;
struct wl_event_source;
struct wl_global;

namespace glimra::test {

class TestCompositor {
public:
    enum class End { Ready, Failed, Stopped };
    struct Behaviour {
        QImage buffer;              // what a copy writes, in the output's own orientation
        int transform = 0;          // the output's wl_output_transform, sent with the frame too
        bool readableFormat = true; // offer XRGB8888 beside a format the client cannot read
        End end = End::Ready;
        // wlroots' screencopy instead of ext-image-copy-capture, with rows of this many bytes (0: no
        // padding) written bottom up when yInvert, as compositors rendering with GL hand them.
        bool screencopy = false;
        int stride = 0;
        bool yInvert = false;
    };

    // Listens at socketPath (absolute); serves until destroyed.
    TestCompositor(const QString& socketPath, Behaviour behaviour);
    ~TestCompositor();
    TestCompositor(const TestCompositor&) = delete;
    TestCompositor& operator=(const TestCompositor&) = delete;

    bool ok() const { return display_ != nullptr; }
    // Plugs in a second output ("TEST-2", right of the first) or unplugs it.
    void plugSecondOutput(bool plugged);
    const Behaviour& behaviour() const { return behaviour_; }

    struct Output {
        const Behaviour* behaviour;
        const char* name;
        int x;
    };

private:
    void serveWake();

    Behaviour behaviour_;
    Output first_{&behaviour_, "TEST-1", 0};
    Output second_{&behaviour_, "TEST-2", 0};
    wl_display* display_ = nullptr;
    wl_global* secondGlobal_ = nullptr;
    std::atomic<bool> secondWanted_{false};
    int wake_ = -1;
    wl_event_source* wakeSource_ = nullptr;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace glimra::test
