#include "HelperLink.h"

#include <QColor>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <unistd.h>

#include <xcb/xcb.h>

using namespace xpc;

namespace glimra::test {

xpc_handler_t EventLog::handler() {
    return [this](xpc_object_t event) { // callers keep the log alive
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    };
}

std::vector<xpc_object_t> EventLog::events() {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<xpc_object_t> EventLog::messages(uint64_t kind) {
    std::vector<xpc_object_t> out;
    for (const auto& e : events())
        if (xpc_get_type(e) == xpc_type_t::Dictionary && xpc_dictionary_get_uint64(e, "id") == kind)
            out.push_back(e);
    return out;
}

bool EventLog::waitForMessages(uint64_t kind, size_t count, int timeoutMs) {
    return waitUntil([&] { return messages(kind).size() >= count; }, timeoutMs);
}

bool EventLog::waitForEvent(const xpc_object_t& event, int timeoutMs) {
    return waitUntil(
        [&] {
            const auto all = events();
            return std::find(all.begin(), all.end(), event) != all.end();
        },
        timeoutMs);
}

HelperConnection::HelperConnection(Answer a) : answer(std::make_shared<std::atomic<Answer>>(a)) {
    connection =
        xpc_connection_create_mach_service("app.glimra.GlimraHelper", dispatch::dispatch_get_main_queue(), 0);
    xpc_connection_set_event_handler(connection, [events = events, answer = answer](xpc_object_t event) {
        events->handler()(event);
        if (xpc_get_type(event) != xpc_type_t::Dictionary || xpc_dictionary_get_uint64(event, "id") != 3)
            return;
        xpc_object_t reply = xpc_dictionary_create_reply(event);
        const Answer how = answer->load();
        if (!reply || how == Answer::Ignore)
            return;
        if (how != Answer::NoKey)
            xpc_dictionary_set_bool(reply, "bool", how == Answer::Allow);
        xpc_connection_send_message(xpc_dictionary_get_remote_connection(event), reply);
    });
    xpc_connection_resume(connection);
}

HelperConnection::~HelperConnection() {
    cancel();
}

void HelperConnection::cancel() {
    if (connection)
        xpc_connection_cancel(connection);
}

void HelperConnection::send(const xpc_object_t& m) {
    xpc_connection_send_message(connection, m);
}

void HelperConnection::send(std::initializer_list<std::pair<const char*, uint64_t>> values) {
    xpc_object_t m = xpc_dictionary_create();
    for (const auto& [key, value] : values)
        xpc_dictionary_set_uint64(m, key, value);
    send(m);
}

xpc_object_t HelperConnection::sendWithReply(const xpc_object_t& m, int timeoutMs) {
    auto reply = std::make_shared<std::pair<std::mutex, xpc_object_t>>();
    xpc_connection_send_message_with_reply(connection, m, dispatch::dispatch_get_main_queue(),
                                           [reply](xpc_object_t r) {
                                               std::lock_guard lock(reply->first);
                                               reply->second = std::move(r);
                                           });
    waitUntil(
        [&] {
            std::lock_guard lock(reply->first);
            return reply->second != nullptr;
        },
        timeoutMs);
    std::lock_guard lock(reply->first);
    return reply->second;
}

xpc_object_t HelperConnection::sendWithReply(uint64_t kind, int timeoutMs) {
    return sendWithReply(message(kind), timeoutMs);
}

xpc_object_t message(uint64_t kind) {
    xpc_object_t m = xpc_dictionary_create();
    xpc_dictionary_set_uint64(m, "id", kind);
    return m;
}

NotificationCounter::NotificationCounter(const QString& name) : name_(name) {
    QDBusConnection::sessionBus().connect(QString(), "/app/glimra/DistributedNotificationCenter",
                                          "app.glimra.DistributedNotificationCenter", "Posted", this,
                                          SLOT(posted(QString, QString)));
}

void NotificationCounter::posted(const QString& name, const QString&) {
    if (name == name_)
        ++count_;
}

QImage testPattern(QSize size, int variant) {
    QImage image(size, QImage::Format_RGB32);
    uint32_t state = 2463534242u + uint32_t(variant);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state & 31);
            const bool line = (x + variant) % 97 == 0 || (y * 3 + x) % 211 == 0;
            row[x] = line ? qRgb(20, 20, 20)
                          : qRgb((x * 255 / size.width() + noise) & 255, (y * 255 / size.height()) & 255,
                                 ((x ^ y) + variant) & 255);
        }
    }
    return image;
}

ScreenCover::ScreenCover(const QImage& image) {
    connection_ = xcb_connect(nullptr, nullptr);
    show(image);
}

ScreenCover::ScreenCover(const QColor& colour)
    : ScreenCover([&] {
          const xcb_screen_t* screen = nullptr;
          xcb_connection_t* c = xcb_connect(nullptr, nullptr);
          screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
          QImage image(screen->width_in_pixels, screen->height_in_pixels, QImage::Format_RGB32);
          xcb_disconnect(c);
          image.fill(colour);
          return image;
      }()) {}

ScreenCover::~ScreenCover() {
    xcb_connection_t* c = connection_;
    if (window_)
        xcb_destroy_window(c, window_);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

void ScreenCover::show(const QImage& source) {
    xcb_connection_t* c = connection_;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, uint16_t(image.width()),
                      uint16_t(image.height()));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // Row bands keep each request under the server's maximum request size.
    const int rowsPerRequest = std::max(1, int(60000 / std::max(1, image.width())));
    for (int y = 0; y < image.height(); y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, image.height() - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(image.width()), uint16_t(rows), 0,
                      int16_t(y), 0, screen->root_depth, uint32_t(rows * image.bytesPerLine()),
                      image.constScanLine(y));
    }
    if (!window_) {
        window_ = xcb_generate_id(c);
        const uint32_t values[] = {pixmap, 1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, uint16_t(image.width()),
                          uint16_t(image.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, window_);
    } else {
        xcb_change_window_attributes(c, window_, XCB_CW_BACK_PIXMAP, &pixmap);
        xcb_clear_area(c, 0, window_, 0, 0, 0, 0);
    }
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace glimra::test

namespace glimra::test {

namespace {

// A main application the helper launched (through gio or directly) is not a child of the test and
// may claim its name a moment after the helper is gone: end any owner that is not this process,
// for as long as one may still appear.
void endStrayMainApplications(int settleMs) {
    QElapsedTimer timer;
    timer.start();
    do {
        const QDBusReply<uint> pid =
            QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("app.glimra.Glimra"));
        if (pid.isValid() && pid.value() != uint(getpid())) {
            ::kill(pid_t(pid.value()), SIGTERM);
            waitUntil([] { return !nameHasOwner(QStringLiteral("app.glimra.Glimra")); }, 5000);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    } while (timer.elapsed() < settleMs);
}

} // namespace

void HelperTest::SetUp() {
    endStrayMainApplications(0);
    ASSERT_FALSE(nameHasOwner("app.glimra.GlimraHelper")) << "a helper from elsewhere is running";
    ready = std::make_unique<NotificationCounter>("GlimraHelperAppIsReady");
}

void HelperTest::TearDown() {
    mainApp.releaseName(QStringLiteral("app.glimra.Glimra"));
    stopHelper();
    endStrayMainApplications(1500);
    waitUntil([] { return !nameHasOwner(QStringLiteral("app.glimra.GlimraHelper")); }, 5000);
}

void HelperTest::registerUrlHandler(int launchDelayMs) {
    // A launcher script keeps the desktop entry's quoting simple.
    const QString launcher = home.path("launch-glimra.sh");
    QFile script(launcher);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nsleep %1\nexec '%2' --output '%3' \"$@\"\n")
                     .arg(launchDelayMs / 1000.0)
                     .arg(mainAppExecutable(), shotsDir())
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(home.dataHome() + "/applications");
    QFile entry(home.dataHome() + "/applications/app.glimra.Glimra.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(("[Desktop Entry]\nType=Application\nName=Glimra\nExec=\"" + launcher +
                 "\" %u\nMimeType=x-scheme-handler/glimra;\nNoDisplay=true\n")
                    .toUtf8());
    QFile mimeapps(home.configHome() + "/mimeapps.list");
    ASSERT_TRUE(mimeapps.open(QIODevice::WriteOnly));
    mimeapps.write("[Default Applications]\nx-scheme-handler/glimra=app.glimra.Glimra.desktop\n");
}

bool HelperTest::startHelper(const QString& executable) {
    const int before = ready->count();
    helper = std::make_unique<Program>(executable.isEmpty() ? helperExecutable() : executable, QStringList{},
                                       home.environment());
    return waitUntil([&] { return ready->count() > before; }, 10000);
}

void HelperTest::stopHelper() {
    if (!helper)
        return;
    helper->terminate();
    helper->waitForExit(5000);
    helper.reset();
}

} // namespace glimra::test
