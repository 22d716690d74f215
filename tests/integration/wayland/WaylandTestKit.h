#pragma once
// What the Wayland tests share: the headless sway session they run in (HEADLESS-1 1920x1080 at scale 1,
// HEADLESS-2 1280x720 at scale 2 right of it), commands to sway through its IPC, and copies waited for
// on the event loop.

#include "WaylandKit.h"
#include "XTestKit.h"
#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"

namespace glimra::test {

// The result of one copy; calls counts how often done was called (exactly once is right).
struct CopyResult {
    std::vector<wayland::OutputImage> images;
    int calls = 0;
};
// Runs copyOutputs and the event loop until done is called (or timeoutMs passes), then a little longer
// to see a second call.
CopyResult copyOutputs(wayland::OutputCopier& copier, const QStringList& names = {}, int timeoutMs = 15000);

// A unix socket listening at path, as a server that may never answer; -1 when it cannot be made.
int listeningSocket(const QString& path);

// Tests inside a sway session; skipped elsewhere.
class SwaySession : public ::testing::Test {
protected:
    void SetUp() override;
    ::testing::AssertionResult swayCommand(const QString& command) {
        return test::swayCommand(*ipc, command);
    }

    std::shared_ptr<wayland::WaylandConnection> connection;
    std::unique_ptr<wayland::SwayIpc> ipc;
    std::unique_ptr<wayland::OutputCopier> screencopy;
};

} // namespace glimra::test
