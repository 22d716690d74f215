#include "wayland/SwayIpc.h"

#include "wayland/WaylandConnection.h"

#include <QJsonArray>
#include <QJsonObject>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace glimra::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderBytes = sizeof(kMagic) + 8;
// Far above any tree sway sends; a larger length means the stream is out of step.
constexpr uint32_t kMaxPayload = 64u << 20;

QRect rectOf(const QJsonValue& value) {
    const QJsonObject r = value.toObject();
    return QRect(r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt(),
                 r.value(QLatin1String("width")).toInt(), r.value(QLatin1String("height")).toInt());
}

struct Stacked {
    int layer; // 0 fullscreen, 1 floating, 2 tiled
    int order; // within floating: higher is further back
    SwayWindow window;
};

void collect(const QJsonObject& node, const QString& output, const QString& parentLayout, int floatingOrder,
             std::vector<Stacked>& out) {
    const QString type = node.value(QLatin1String("type")).toString();
    const QString here =
        type == QLatin1String("output") ? node.value(QLatin1String("name")).toString() : output;
    const QJsonArray children = node.value(QLatin1String("nodes")).toArray();
    const QJsonArray floating = node.value(QLatin1String("floating_nodes")).toArray();
    const bool isView = node.contains(QLatin1String("pid")) && children.isEmpty() && floating.isEmpty() &&
                        (type == QLatin1String("con") || type == QLatin1String("floating_con"));
    if (isView && node.value(QLatin1String("visible")).toBool()) {
        SwayWindow w;
        w.id = node.value(QLatin1String("id")).toInteger();
        w.pid = node.value(QLatin1String("pid")).toInteger();
        w.name = node.value(QLatin1String("name")).toString();
        w.appId = node.value(QLatin1String("app_id")).toString();
        if (w.appId.isEmpty())
            w.appId = node.value(QLatin1String("window_properties"))
                          .toObject()
                          .value(QLatin1String("class"))
                          .toString();
        w.output = here;
        w.bounds = rectOf(node.value(QLatin1String("rect")));
        w.content = rectOf(node.value(QLatin1String("window_rect"))).translated(w.bounds.topLeft());
        w.focused = node.value(QLatin1String("focused")).toBool();
        w.floating = floatingOrder >= 0;
        // `rect` holds the border; the title bar (`deco_rect`, relative to the parent) lies right above
        // it, except in tabbed and stacked containers, where it is a tab of the parent's bar.
        const bool tab = parentLayout == QLatin1String("tabbed") || parentLayout == QLatin1String("stacked");
        if (w.floating || !tab)
            w.bounds.setTop(w.bounds.top() - rectOf(node.value(QLatin1String("deco_rect"))).height());
        w.fullscreen = node.value(QLatin1String("fullscreen_mode")).toInt() != 0;
        out.push_back({w.fullscreen ? 0 : w.floating ? 1 : 2, floatingOrder, std::move(w)});
    }
    const QString layout = node.value(QLatin1String("layout")).toString();
    for (const QJsonValue& child : children)
        collect(child.toObject(), here, layout, floatingOrder, out);
    // sway draws floating containers in this order: the last one is on top.
    for (qsizetype i = 0; i < floating.size(); ++i)
        collect(floating[i].toObject(), here, layout, int(floating.size() - 1 - i), out);
}

} // namespace

std::vector<SwayWindow> visibleWindows(const QJsonDocument& tree) {
    std::vector<Stacked> stacked;
    collect(tree.object(), QString(), QString(), -1, stacked);
    std::stable_sort(stacked.begin(), stacked.end(), [](const Stacked& a, const Stacked& b) {
        return a.layer != b.layer ? a.layer < b.layer : a.order < b.order;
    });
    std::vector<SwayWindow> windows;
    for (Stacked& s : stacked)
        windows.push_back(std::move(s.window));
    return windows;
}

SwayIpc::SwayIpc(int fd, QString path, std::chrono::milliseconds timeout)
    : fd_(fd), path_(std::move(path)), timeout_(timeout) {}

SwayIpc::~SwayIpc() {
    if (fd_ >= 0)
        close(fd_);
}

std::unique_ptr<SwayIpc> SwayIpc::connect(const QString& socketPath, std::chrono::milliseconds timeout) {
    const QString path = socketPath.isEmpty() ? qEnvironmentVariable("SWAYSOCK") : socketPath;
    if (path.isEmpty()) {
        logLine(QStringLiteral("sway's IPC: SWAYSOCK is not set"));
        return nullptr;
    }
    const QByteArray native = path.toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(native.size()) >= sizeof(address.sun_path)) {
        logLine(QStringLiteral("sway's IPC: the socket path \"%1\" is too long").arg(path));
        return nullptr;
    }
    std::memcpy(address.sun_path, native.constData(), std::size_t(native.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        logLine(QStringLiteral("sway's IPC: cannot connect to \"%1\" (%2)")
                    .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return std::unique_ptr<SwayIpc>(new SwayIpc(fd, path, timeout));
}

void SwayIpc::fail(const QString& why) {
    logLine(QStringLiteral("sway's IPC at \"%1\": %2").arg(path_, why));
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool SwayIpc::writeAll(const QByteArray& bytes, Clock::time_point deadline) {
    const char* p = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = send(fd_, p, left, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            left -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            fail(QStringLiteral("sending failed (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        pollfd pfd{fd_, POLLOUT, 0};
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (wait <= 0 || poll(&pfd, 1, int(wait)) == 0) {
            fail(QStringLiteral("sway takes no request (timed out)"));
            return false;
        }
    }
    return true;
}

// Reads exactly `bytes`; *nothing (when given) is set when the deadline passed before the first byte.
bool SwayIpc::readExactly(char* to, std::size_t bytes, Clock::time_point deadline, bool* nothing) {
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = recv(fd_, to + got, bytes - got, 0);
        if (n > 0) {
            got += std::size_t(n);
            continue;
        }
        if (n == 0) {
            fail(got == 0 ? QStringLiteral("sway closed the connection")
                          : QStringLiteral("sway closed the connection in the middle of a message"));
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            fail(QStringLiteral("reading failed (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        if (got > 0 && nothing) { // a message has begun to arrive: it gets the whole timeout
            deadline = std::max(deadline, Clock::now() + timeout_);
            nothing = nullptr;
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd_, POLLIN, 0};
        if (wait > 0 && poll(&pfd, 1, int(wait)) != 0)
            continue;
        if (got == 0 && nothing) {
            *nothing = true;
            return false;
        }
        fail(QStringLiteral("sway did not answer within %1 ms").arg(timeout_.count()));
        return false;
    }
    return true;
}

std::optional<SwayMessage> SwayIpc::readMessage(Clock::time_point deadline, bool* nothing) {
    char header[kHeaderBytes];
    if (!readExactly(header, kHeaderBytes, deadline, nothing))
        return std::nullopt;
    uint32_t length, type;
    std::memcpy(&length, header + sizeof(kMagic), 4);
    std::memcpy(&type, header + sizeof(kMagic) + 4, 4);
    if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0 || length > kMaxPayload) {
        fail(QStringLiteral("a message without the i3-ipc header, or of %1 bytes").arg(length));
        return std::nullopt;
    }
    SwayMessage m{type, QByteArray(qsizetype(length), Qt::Uninitialized)};
    if (nothing) // reading events without waiting: the rest of a message that has begun gets the timeout
        deadline = std::max(deadline, Clock::now() + timeout_);
    if (!readExactly(m.payload.data(), length, deadline, nullptr))
        return std::nullopt;
    return m;
}

std::optional<QJsonDocument> SwayIpc::request(uint32_t type, const QByteArray& payload) {
    if (fd_ < 0) {
        logLine(QStringLiteral("sway's IPC at \"%1\": the connection broke earlier").arg(path_));
        return std::nullopt;
    }
    const Clock::time_point deadline = Clock::now() + timeout_;
    QByteArray message(kMagic, sizeof(kMagic));
    const auto length = uint32_t(payload.size());
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    message.append(payload);
    if (!writeAll(message, deadline))
        return std::nullopt;
    for (;;) {
        std::optional<SwayMessage> m = readMessage(deadline);
        if (!m)
            return std::nullopt;
        if (m->type & kEventBit) {
            events_.push_back(std::move(*m));
            continue;
        }
        if (m->type != type) {
            fail(QStringLiteral("a reply of type %1 to a request of type %2").arg(m->type).arg(type));
            return std::nullopt;
        }
        QJsonParseError error{};
        QJsonDocument document = QJsonDocument::fromJson(m->payload, &error);
        if (error.error != QJsonParseError::NoError) {
            logLine(QStringLiteral("sway's IPC: a reply that is no JSON (%1)").arg(error.errorString()));
            return std::nullopt;
        }
        return document;
    }
}

std::optional<std::vector<SwayWindow>> SwayIpc::windows() {
    std::optional<QJsonDocument> tree = request(GetTree);
    if (!tree)
        return std::nullopt;
    return visibleWindows(*tree);
}

QString SwayIpc::focusedOutput() {
    std::optional<QJsonDocument> outputs = request(GetOutputs);
    if (!outputs)
        return QString();
    for (const QJsonValue& o : outputs->array())
        if (o.toObject().value(QLatin1String("focused")).toBool())
            return o.toObject().value(QLatin1String("name")).toString();
    logLine(QStringLiteral("sway's IPC: no output has the focus"));
    return QString();
}

std::vector<SwayMessage> SwayIpc::takeEvents() {
    return std::exchange(events_, {});
}

bool SwayIpc::readEvents() {
    while (fd_ >= 0) {
        bool nothing = false;
        // A message that has begun to arrive is read whole, within the timeout.
        std::optional<SwayMessage> m = readMessage(Clock::now(), &nothing);
        if (!m)
            return nothing;
        events_.push_back(std::move(*m));
    }
    return false;
}

} // namespace glimra::wayland
