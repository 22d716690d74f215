#pragma once
// A compositor of the test's own, serving from a thread: one output ("TEST-1"), wl_shm and the
// ext-image-copy-capture globals, copying a picture of the test's choice or failing as asked.

#include <QImage>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

struct wl_display;

namespace glimra::test {

class TestCompositor {
public:
    enum class End { Ready, Failed, Stopped };
    struct Behaviour {
        QImage buffer;              // what a copy writes, in the output's own orientation
        int transform = 0;          // the output's wl_output_transform, sent with the frame too
        bool readableFormat = true; // offer XRGB8888 beside a format the client cannot read
        End end = End::Ready;
    };

    // Listens at socketPath (absolute); serves until destroyed.
    TestCompositor(const QString& socketPath, Behaviour behaviour);
    ~TestCompositor();
    TestCompositor(const TestCompositor&) = delete;
    TestCompositor& operator=(const TestCompositor&) = delete;

    bool ok() const { return display_ != nullptr; }
    const Behaviour& behaviour() const { return behaviour_; }

private:
    Behaviour behaviour_;
    wl_display* display_ = nullptr;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace glimra::test
