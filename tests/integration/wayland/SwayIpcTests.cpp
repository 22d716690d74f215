// sway's IPC: windows of this process as sway lays them out and stacks them, and sockets that break in
// the middle of an answer (the capture scenarios drive the focused output and window snaps).

#include "WaylandTestKit.h"

#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

TEST_F(SwaySession, WindowsComeWithTheirRectanglesFrontToBack) {
    ASSERT_TRUE(swayCommand(QStringLiteral("focus output HEADLESS-1")));
    QWidget tiled, floating;
    tiled.setWindowTitle(QStringLiteral("glimra tiled"));
    floating.setWindowTitle(QStringLiteral("glimra floating"));
    tiled.show();
    ASSERT_TRUE(waitUntil([&] { return ownSwayWindow(*ipc, tiled.windowTitle()).has_value(); }));
    floating.show();
    std::optional<SwayWindow> t, f;
    ASSERT_TRUE(waitUntil([&] { return (f = ownSwayWindow(*ipc, floating.windowTitle())).has_value(); }));
    ASSERT_TRUE(swayCommand(QStringLiteral("[con_id=%1] floating enable").arg(f->id)));
    std::vector<SwayWindow> all;
    ASSERT_TRUE(waitUntil([&] {
        t = ownSwayWindow(*ipc, tiled.windowTitle(), &all);
        f = ownSwayWindow(*ipc, floating.windowTitle());
        // Title bars and borders are sway's: 25 points above, 2 on the other sides.
        return t && f && f->floating && f->content.size() == floating.size() &&
               f->bounds.adjusted(2, 25, -2, -2) == f->content && t->content.size() == tiled.size() &&
               t->bounds.adjusted(2, 25, -2, -2) == t->content;
    })) << "sway and the windows never agreed on their sizes";

    // Alone in the tiling layout of HEADLESS-1, under sway's title bar and inside its border.
    EXPECT_EQ(t->output, QStringLiteral("HEADLESS-1"));
    EXPECT_EQ(t->bounds, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(t->content, QRect(2, 25, 1916, 1053));
    EXPECT_TRUE(f->focused);
    EXPECT_FALSE(t->focused);
    EXPECT_EQ(t->appId, f->appId);
    const auto front = std::find_if(all.begin(), all.end(),
                                    [&](const SwayWindow& a) { return a.id == f->id || a.id == t->id; });
    EXPECT_TRUE(front != all.end() && front->id == f->id) << "the floating window is in front";

    ASSERT_TRUE(swayCommand(QStringLiteral("[con_id=%1] fullscreen enable").arg(t->id)));
    ASSERT_TRUE(waitUntil([&] {
        t = ownSwayWindow(*ipc, tiled.windowTitle(), &all);
        return t && t->fullscreen && !all.empty() && all.front().id == t->id;
    })) << "the fullscreen window is in front of all";
    EXPECT_EQ(t->bounds, QRect(0, 0, 1920, 1080));
}

// A server that takes one request, then after a while answers these bytes and closes, as sway restarting
// or hanging would.
struct BreakCase {
    const char* name;
    std::string answer;
    int delayMs = 0;
};
const std::string kHeader("i3-ipc\x64\0\0\0\x04\0\0\0", 14); // a tree of 100 bytes follows

class BrokenSway : public ::testing::TestWithParam<BreakCase> {};

TEST_P(BrokenSway, GivesNoAnswerAndAClosedConnection) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sway-ipc.sock"));
    const int listener = listeningSocket(path);
    ASSERT_GE(listener, 0);
    std::thread server([listener, c = GetParam()] {
        const int s = accept(listener, nullptr, nullptr);
        char request[14];
        (void)!read(s, request, sizeof(request));
        usleep(useconds_t(c.delayMs) * 1000);
        if (!c.answer.empty()) // to a client gone by now, even no bytes would raise SIGPIPE
            (void)!write(s, c.answer.data(), c.answer.size());
        close(s);
    });
    std::unique_ptr<SwayIpc> ipc = SwayIpc::connect(path, std::chrono::milliseconds(300));
    ASSERT_TRUE(ipc);
    EXPECT_FALSE(ipc->windows());
    EXPECT_TRUE(ipc->broken());
    EXPECT_TRUE(ipc->focusedOutput().isEmpty()); // and no more waiting
    server.join();
    close(listener);
}

INSTANTIATE_TEST_SUITE_P(Wayland, BrokenSway,
                         ::testing::Values(BreakCase{"ClosesInHeader", kHeader.substr(0, 8)},
                                           BreakCase{"ClosesInPayload", kHeader + "{\"nodes\":"},
                                           BreakCase{"NeverAnswers", "", 800},
                                           BreakCase{"NoIpcHeader", "HTTP/1.1 400 Bad\r\n\r\n"}),
                         caseName);

} // namespace
