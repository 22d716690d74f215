#pragma once
// The helper's own Wayland connection (Qt's is never touched): the globals that screen copies need and
// every output with its name and place in the layout. For use on one thread. Every wait on the
// compositor polls the socket against a deadline, so a compositor that stops answering costs the
// caller the connection's timeout (2 s) and a log line, never a hang.

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_output;
struct wl_shm;

namespace glimra::wayland {

// Log lines of the Wayland units.
void logLine(const QString& text);

using Clock = std::chrono::steady_clock;

// One output as the compositor describes it.
struct OutputInfo {
    QString name;        // e.g. "HEADLESS-1", "DP-2": the name QScreen::name() gives in a Qt client
    QString description; // the compositor's human-readable description; may be empty
    QRect logical;       // in the layout's logical coordinates (y downwards), as Qt places its screens
    QSize modeSize;      // the current mode: device pixels in the output's own orientation
    int scale = 1;
    int transform = 0;           // a wl_output_transform
    wl_output* output = nullptr; // the connection's proxy, for protocols that name the output
    // The output's device pixels upright: the mode's sides swapped on outputs turned by 90 or 270 degrees.
    QSize pixelSize() const;
};

class WaylandConnection {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{2000};

    // Connects to socket (a name in $XDG_RUNTIME_DIR or an absolute path; empty: $WAYLAND_DISPLAY) and
    // reads the globals and every output's description. nullptr (with a log line) when there is no
    // compositor, or it does not answer within the timeout.
    static std::unique_ptr<WaylandConnection> connect(const QString& socket = QString(),
                                                      std::chrono::milliseconds timeout = kDefaultTimeout);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const;
    wl_shm* shm() const; // nullptr when the compositor offers no shared memory buffers
    std::chrono::milliseconds timeout() const;

    // Binds the global of that interface at the highest version both sides know (at most maxVersion),
    // storing the version bound in *version; nullptr when the compositor does not offer it. The
    // caller owns the proxy and destroys it before the connection goes.
    void* bind(const wl_interface* interface, uint32_t maxVersion, uint32_t* version = nullptr);
    bool offers(const char* interfaceName) const;

    // The outputs whose description is complete, in the order the compositor announced them. Follows
    // outputs that appear, change and go whenever events are dispatched (sync() makes sure).
    std::vector<OutputInfo> outputs() const;
    // Called after each change of the outputs, from the dispatch that saw it.
    void setOutputsChanged(std::function<void()> callback);

    // A round trip: everything the compositor sent before it has been dispatched. false (with a log
    // line) when it does not answer within the timeout or the connection broke.
    bool sync();
    // Dispatches events until done() holds; false (with a log line naming `what`) at the deadline or
    // when the connection broke.
    bool dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline, const QString& what);
    // Dispatches whatever has arrived, without waiting.
    void dispatchAvailable();
    // The connection broke (protocol error or a compositor gone); nothing works on it any more.
    bool broken() const;

    struct Private;

private:
    explicit WaylandConnection(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

// The outputs as the connection describes them, else (no connection, or one that stopped answering) as
// Qt lays its screens out: for the roads that work without a connection of their own.
std::vector<OutputInfo> currentLayout(WaylandConnection* connection);

// Which of the named outputs to copy (empty: all), in that order; empty (with a log line) when a name
// is unknown or there is no output.
std::vector<OutputInfo> outputsNamed(const std::vector<OutputInfo>& outputs, const QStringList& names);

} // namespace glimra::wayland
