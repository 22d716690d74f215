#pragma once
// sway's IPC (the i3 IPC protocol: a unix socket at $SWAYSOCK, messages of a 14-byte header and JSON):
// the visible windows with their rectangles, and the focused output. Requests wait for their reply
// with a short timeout; a sway that does not answer, or closes the socket mid-message (restarting),
// gives a log line and no answer, and the connection is then broken for good: make a new one.
//
// One connection can also carry events: once subscribed (request(Subscribe, ...)), events that arrive
// while a reply is awaited are queued for takeEvents(), and readEvents() reads those that arrived
// since, e.g. when a QSocketNotifier on socketDescriptor() fires.

#include <QByteArray>
#include <QJsonDocument>
#include <QRect>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace glimra::wayland {

// One window as sway lays it out. Rectangles are in the layout's logical coordinates (y downwards), the
// coordinates of OutputInfo::logical and of Qt's screens.
struct SwayWindow {
    qint64 id = 0;  // sway's container id (`[con_id=N]` in commands)
    qint64 pid = 0; // the client's process, 0 when sway does not know it
    QString name;   // the title
    QString appId;  // app_id of Wayland clients; the X11 class of XWayland ones
    QString output; // the output whose workspace holds it
    // What a window's image covers: the window as it shows, with sway's decorations, as the X11 window
    // list gives frames: sway's `rect` (the client and its border) and the title bar above it
    // (`deco_rect`). In tabbed and stacked containers the tab bar belongs to the parent container and
    // is left out.
    QRect bounds;
    // The client's own surface (sway's `window_rect`, made absolute): the window without sway's
    // decorations.
    QRect content;
    bool focused = false;
    bool floating = false;
    bool fullscreen = false;
};

struct SwayMessage {
    uint32_t type = 0; // events have the high bit set
    QByteArray payload;
};

class SwayIpc {
public:
    enum Type : uint32_t {
        RunCommand = 0,
        GetWorkspaces = 1,
        Subscribe = 2,
        GetOutputs = 3,
        GetTree = 4,
        GetVersion = 7,
        GetConfig = 9,
        GetInputs = 100,
    };
    static constexpr uint32_t kEventBit = 0x80000000u;
    static constexpr std::chrono::milliseconds kDefaultTimeout{1000};

    // Connects to socketPath (empty: $SWAYSOCK); nullptr (with a log line) when there is nothing to
    // connect to.
    static std::unique_ptr<SwayIpc> connect(const QString& socketPath = QString(),
                                            std::chrono::milliseconds timeout = kDefaultTimeout);
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    // Sends a message and waits for its reply's payload; nullopt (with a log line) on timeout, a closed
    // socket or a reply that is no JSON.
    std::optional<QJsonDocument> request(uint32_t type, const QByteArray& payload = QByteArray());

    // The visible windows front to back as far as sway tells it: fullscreen windows, then floating ones
    // (the last raised first), then tiled ones. nullopt (with a log line) when sway does not answer.
    std::optional<std::vector<SwayWindow>> windows();
    // The focused output's name; empty (with a log line) when sway does not answer.
    QString focusedOutput();

    // Events queued while replies were awaited, oldest first.
    std::vector<SwayMessage> takeEvents();
    // Reads the events that have arrived, without waiting, and queues them; false when the socket broke.
    bool readEvents();
    int socketDescriptor() const { return fd_; }
    bool broken() const { return fd_ < 0; }

private:
    SwayIpc(int fd, QString path, std::chrono::milliseconds timeout);
    bool writeAll(const QByteArray& bytes, std::chrono::steady_clock::time_point deadline);
    bool readExactly(char* to, std::size_t bytes, std::chrono::steady_clock::time_point deadline,
                     bool* nothing);
    std::optional<SwayMessage> readMessage(std::chrono::steady_clock::time_point deadline,
                                           bool* nothing = nullptr);
    void fail(const QString& why);

    int fd_;
    QString path_;
    std::chrono::milliseconds timeout_;
    std::vector<SwayMessage> events_;
};

// The windows in a get_tree answer, as SwayIpc::windows() gives them.
std::vector<SwayWindow> visibleWindows(const QJsonDocument& tree);

} // namespace glimra::wayland
