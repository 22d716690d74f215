#include "wayland/WaylandConnection.h"

#include "Log.h"

#include "xdg-output-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>

#include <wayland-client.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace glimra::wayland {

void logLine(const QString& text) {
    writeLogLine(QStringLiteral("Wayland: ") + text);
}

QSize OutputInfo::pixelSize() const {
    const bool sideways = transform == WL_OUTPUT_TRANSFORM_90 || transform == WL_OUTPUT_TRANSFORM_270 ||
                          transform == WL_OUTPUT_TRANSFORM_FLIPPED_90 ||
                          transform == WL_OUTPUT_TRANSFORM_FLIPPED_270;
    return sideways ? modeSize.transposed() : modeSize;
}

namespace {

struct Global {
    uint32_t name;
    QByteArray interface;
    uint32_t version;
};

// An output while its description arrives: wl_output's events, then xdg-output's, each batch closed by
// a done event.
struct OutputRecord {
    WaylandConnection::Private* owner = nullptr;
    uint32_t globalName = 0;
    OutputInfo info;
    QPoint position; // wl_output's, for compositors without xdg-output
    zxdg_output_v1* xdg = nullptr;
    bool haveLogicalPosition = false;
    bool haveLogicalSize = false;
    bool done = false;

    ~OutputRecord() {
        if (xdg)
            zxdg_output_v1_destroy(xdg);
        if (info.output) {
            if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(info.output)) >=
                WL_OUTPUT_RELEASE_SINCE_VERSION)
                wl_output_release(info.output);
            else
                wl_output_destroy(info.output);
        }
    }
};

} // namespace

struct WaylandConnection::Private {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_shm* shm = nullptr;
    zxdg_output_manager_v1* xdgOutputs = nullptr;
    std::chrono::milliseconds timeout{};
    std::vector<Global> globals;
    std::vector<std::unique_ptr<OutputRecord>> outputs;
    std::function<void()> outputsChanged;
    std::unique_ptr<QSocketNotifier> notifier;
    bool broken = false;

    ~Private() {
        notifier.reset();
        outputs.clear();
        if (xdgOutputs)
            zxdg_output_manager_v1_destroy(xdgOutputs);
        if (shm)
            wl_shm_destroy(shm);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }

    void changed() {
        if (outputsChanged)
            outputsChanged();
    }

    void addOutput(uint32_t name, uint32_t version);
    void describeLogically(OutputRecord& record);
    bool failIfBroken(const QString& what);
};

namespace {

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t transform) {
    auto* r = static_cast<OutputRecord*>(data);
    r->position = QPoint(x, y);
    r->info.transform = transform;
}

void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (flags & WL_OUTPUT_MODE_CURRENT)
        static_cast<OutputRecord*>(data)->info.modeSize = QSize(width, height);
}

void outputDone(void* data, wl_output*) {
    auto* r = static_cast<OutputRecord*>(data);
    const bool wasDone = r->done;
    r->done = true;
    if (wasDone || !r->xdg) // a later batch, or no xdg-output to wait for
        r->owner->changed();
}

void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<OutputRecord*>(data)->info.scale = std::max(1, factor);
}

void outputName(void* data, wl_output*, const char* name) {
    static_cast<OutputRecord*>(data)->info.name = QString::fromUtf8(name);
}

void outputDescription(void* data, wl_output*, const char* description) {
    static_cast<OutputRecord*>(data)->info.description = QString::fromUtf8(description);
}

const wl_output_listener kOutputListener = {outputGeometry, outputMode, outputDone,
                                            outputScale,    outputName, outputDescription};

void xdgPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* r = static_cast<OutputRecord*>(data);
    r->info.logical.moveTopLeft(QPoint(x, y));
    r->haveLogicalPosition = true;
}

void xdgSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* r = static_cast<OutputRecord*>(data);
    r->info.logical.setSize(QSize(width, height));
    r->haveLogicalSize = true;
}

void xdgDone(void* data, zxdg_output_v1*) {
    // Since version 3 wl_output.done closes xdg-output's batches too; older compositors send this.
    auto* r = static_cast<OutputRecord*>(data);
    if (r->done)
        r->owner->changed();
}

void xdgName(void* data, zxdg_output_v1*, const char* name) {
    auto* r = static_cast<OutputRecord*>(data);
    if (r->info.name.isEmpty())
        r->info.name = QString::fromUtf8(name);
}

void xdgDescription(void* data, zxdg_output_v1*, const char* description) {
    auto* r = static_cast<OutputRecord*>(data);
    if (r->info.description.isEmpty())
        r->info.description = QString::fromUtf8(description);
}

const zxdg_output_v1_listener kXdgOutputListener = {xdgPosition, xdgSize, xdgDone, xdgName, xdgDescription};

void registryGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
    auto* d = static_cast<WaylandConnection::Private*>(data);
    d->globals.push_back({name, QByteArray(interface), version});
    if (std::strcmp(interface, wl_output_interface.name) == 0)
        d->addOutput(name, version);
}

void registryGlobalRemove(void* data, wl_registry*, uint32_t name) {
    auto* d = static_cast<WaylandConnection::Private*>(data);
    std::erase_if(d->globals, [name](const Global& g) { return g.name == name; });
    const auto n = std::erase_if(d->outputs, [name](const auto& r) { return r->globalName == name; });
    if (n > 0)
        d->changed();
}

const wl_registry_listener kRegistryListener = {registryGlobal, registryGlobalRemove};

void syncDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener kSyncListener = {syncDone};

} // namespace

void WaylandConnection::Private::addOutput(uint32_t name, uint32_t version) {
    auto record = std::make_unique<OutputRecord>();
    record->owner = this;
    record->globalName = name;
    record->info.output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 4)));
    wl_output_add_listener(record->info.output, &kOutputListener, record.get());
    describeLogically(*record);
    outputs.push_back(std::move(record));
}

void WaylandConnection::Private::describeLogically(OutputRecord& record) {
    if (!xdgOutputs || record.xdg)
        return;
    record.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputs, record.info.output);
    zxdg_output_v1_add_listener(record.xdg, &kXdgOutputListener, &record);
}

bool WaylandConnection::Private::failIfBroken(const QString& what) {
    if (broken)
        return true;
    const int error = wl_display_get_error(display);
    if (error == 0)
        return false;
    broken = true;
    notifier.reset();
    uint32_t code = 0;
    const wl_interface* interface = nullptr;
    if (error == EPROTO) {
        wl_display_get_protocol_error(display, &interface, &code);
        logLine(QStringLiteral("%1: the compositor closed the connection (protocol error %2 on %3)")
                    .arg(what)
                    .arg(code)
                    .arg(QLatin1String(interface ? interface->name : "an unknown object")));
    } else {
        logLine(QStringLiteral("%1: the connection to the compositor broke (%2)")
                    .arg(what, QString::fromLocal8Bit(std::strerror(error))));
    }
    return true;
}

WaylandConnection::WaylandConnection(std::unique_ptr<Private> p) : d(std::move(p)) {}
WaylandConnection::~WaylandConnection() = default;

std::unique_ptr<WaylandConnection> WaylandConnection::connect(const QString& socket,
                                                              std::chrono::milliseconds timeout) {
    const QByteArray name = socket.toLocal8Bit();
    wl_display* display = wl_display_connect(name.isEmpty() ? nullptr : name.constData());
    if (!display) {
        const QString shown =
            socket.isEmpty() ? qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0")) : socket;
        logLine(QStringLiteral("cannot connect to the compositor at \"%1\"").arg(shown));
        return nullptr;
    }
    auto d = std::make_unique<Private>();
    d->display = display;
    d->timeout = timeout;
    d->registry = wl_display_get_registry(display);
    wl_registry_add_listener(d->registry, &kRegistryListener, d.get());
    std::unique_ptr<WaylandConnection> c(new WaylandConnection(std::move(d)));
    if (!c->sync()) // the globals
        return nullptr;
    Private& p = *c->d;
    p.shm = static_cast<wl_shm*>(c->bind(&wl_shm_interface, 1));
    p.xdgOutputs = static_cast<zxdg_output_manager_v1*>(c->bind(&zxdg_output_manager_v1_interface, 3));
    for (auto& record : p.outputs)
        p.describeLogically(*record);
    if (!c->sync()) // the outputs' descriptions
        return nullptr;
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
        // Events arriving between uses (outputs plugged in or out) are read as they come, so the socket
        // never fills up and outputs() is current.
        p.notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(p.display), QSocketNotifier::Read);
        QObject::connect(p.notifier.get(), &QSocketNotifier::activated,
                         [raw = c.get()] { raw->dispatchAvailable(); });
    }
    return c;
}

wl_display* WaylandConnection::display() const {
    return d->display;
}

wl_shm* WaylandConnection::shm() const {
    return d->shm;
}

std::chrono::milliseconds WaylandConnection::timeout() const {
    return d->timeout;
}

void* WaylandConnection::bind(const wl_interface* interface, uint32_t maxVersion, uint32_t* version) {
    for (const Global& g : d->globals)
        if (g.interface == interface->name) {
            const uint32_t v = std::min({g.version, maxVersion, uint32_t(interface->version)});
            if (version)
                *version = v;
            return wl_registry_bind(d->registry, g.name, interface, v);
        }
    return nullptr;
}

bool WaylandConnection::offers(const char* interfaceName) const {
    return std::any_of(d->globals.begin(), d->globals.end(),
                       [&](const Global& g) { return g.interface == interfaceName; });
}

std::vector<OutputInfo> WaylandConnection::outputs() const {
    std::vector<OutputInfo> list;
    for (const auto& r : d->outputs) {
        if (!r->done || r->info.modeSize.isEmpty())
            continue;
        OutputInfo info = r->info;
        if (!r->haveLogicalPosition)
            info.logical.moveTopLeft(r->position);
        if (!r->haveLogicalSize)
            info.logical.setSize(info.pixelSize() / info.scale);
        if (info.name.isEmpty())
            info.name = QStringLiteral("output-%1").arg(r->globalName);
        list.push_back(info);
    }
    return list;
}

void WaylandConnection::setOutputsChanged(std::function<void()> callback) {
    d->outputsChanged = std::move(callback);
}

bool WaylandConnection::broken() const {
    return d->broken;
}

bool WaylandConnection::sync() {
    if (d->failIfBroken(QStringLiteral("a round trip")))
        return false;
    bool done = false;
    wl_callback* callback = wl_display_sync(d->display);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    const bool ok =
        dispatchUntil([&] { return done; }, Clock::now() + d->timeout, QStringLiteral("a round trip"));
    wl_callback_destroy(callback);
    return ok;
}

void WaylandConnection::dispatchAvailable() {
    const QString what = QStringLiteral("reading events");
    if (d->failIfBroken(what))
        return;
    wl_display* display = d->display;
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0) {
            d->failIfBroken(what);
            return;
        }
    wl_display_flush(display);
    pollfd pfd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0) {
            d->failIfBroken(what);
            return;
        }
    } else {
        wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0)
        d->failIfBroken(what);
    else
        wl_display_flush(display); // requests the events made (binding a new output) go out now
}

bool WaylandConnection::dispatchUntil(const std::function<bool()>& done, Clock::time_point deadline,
                                      const QString& what) {
    wl_display* display = d->display;
    const Clock::time_point start = Clock::now();
    for (;;) {
        if (wl_display_dispatch_pending(display) < 0) {
            d->failIfBroken(what);
            return false;
        }
        if (done())
            return true;
        if (wl_display_prepare_read(display) != 0)
            continue; // more events queued meanwhile: dispatch them first
        pollfd pfd{wl_display_get_fd(display), POLLIN, 0};
        if (wl_display_flush(display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(display);
                d->failIfBroken(what);
                return false;
            }
            pfd.events |= POLLOUT; // the socket's buffer is full: wait until it takes the rest
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        int ready;
        do
            ready = poll(&pfd, 1, int(std::max<std::chrono::milliseconds::rep>(0, left.count())));
        while (ready < 0 && errno == EINTR);
        if (ready > 0 && (pfd.revents & (POLLIN | POLLERR | POLLHUP))) {
            if (wl_display_read_events(display) < 0) {
                d->failIfBroken(what);
                return false;
            }
            continue;
        }
        wl_display_cancel_read(display);
        if (ready > 0)
            continue; // writable again: the next turn sends the rest
        if (!what.isEmpty())
            logLine(
                QStringLiteral("%1: the compositor did not answer within %2 ms")
                    .arg(what)
                    .arg(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
        return false;
    }
}

// Which of the named outputs to copy (empty: all), in that order; empty (with a log line) when a name
// is unknown or there is no output.
std::vector<OutputInfo> currentLayout(WaylandConnection* connection) {
    if (connection && connection->sync())
        return connection->outputs();
    std::vector<OutputInfo> outputs;
    for (const QScreen* screen : QGuiApplication::screens()) {
        OutputInfo o;
        o.name = screen->name();
        o.logical = screen->geometry();
        o.modeSize = (QSizeF(o.logical.size()) * screen->devicePixelRatio()).toSize();
        o.scale = int(std::ceil(screen->devicePixelRatio()));
        outputs.push_back(o);
    }
    return outputs;
}

std::vector<OutputInfo> outputsNamed(const std::vector<OutputInfo>& outputs, const QStringList& names) {
    if (names.isEmpty()) {
        if (outputs.empty())
            logLine(QStringLiteral("the compositor shows no output to copy"));
        return outputs;
    }
    std::vector<OutputInfo> chosen;
    for (const QString& name : names) {
        const auto it =
            std::find_if(outputs.begin(), outputs.end(), [&](const OutputInfo& o) { return o.name == name; });
        if (it == outputs.end()) {
            logLine(QStringLiteral("there is no output named \"%1\" to copy").arg(name));
            return {};
        }
        chosen.push_back(*it);
    }
    return chosen;
}

} // namespace glimra::wayland
