#include "HelperLink.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <csignal>
#include <unistd.h>

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

xpc_object_t EventLog::last() {
    std::lock_guard lock(mutex_);
    return events_.empty() ? nullptr : events_.back();
}

bool EventLog::waitFor(size_t count, int timeoutMs) {
    return waitUntil([&] { return events().size() >= count; }, timeoutMs);
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

xpc_object_t message(uint64_t kind) {
    xpc_object_t m = xpc_dictionary_create();
    xpc_dictionary_set_uint64(m, "id", kind);
    return m;
}

HelperConnection::HelperConnection(Answer a) : answer(std::make_shared<std::atomic<Answer>>(a)) {
    connection =
        xpc_connection_create_mach_service("app.glimra.GlimraHelper", dispatch::dispatch_get_main_queue(), 0);
    xpc_connection_set_event_handler(
        connection, [events = events, answer = answer, held = held_](xpc_object_t event) {
            events->handler()(event);
            if (xpc_get_type(event) != xpc_type_t::Dictionary || xpc_dictionary_get_uint64(event, "id") != 3)
                return;
            const Answer how = answer->load();
            if (how == Answer::Ignore) {
                std::lock_guard lock(held->mutex);
                held->requests.push_back(event);
            } else {
                answerRequest(event, how);
            }
        });
    xpc_connection_resume(connection);
}

void HelperConnection::answerRequest(const xpc_object_t& request, Answer how) {
    xpc_object_t reply = xpc_dictionary_create_reply(request);
    if (!reply)
        return;
    if (how != Answer::NoKey)
        xpc_dictionary_set_bool(reply, "bool", how == Answer::Allow);
    xpc_connection_send_message(xpc_dictionary_get_remote_connection(request), reply);
}

bool HelperConnection::answerHeld(bool allow) {
    std::vector<xpc_object_t> requests;
    {
        std::lock_guard lock(held_->mutex);
        requests.swap(held_->requests);
    }
    for (const xpc_object_t& request : requests)
        answerRequest(request, allow ? Answer::Allow : Answer::Refuse);
    return !requests.empty();
}

HelperConnection::~HelperConnection() {
    cancel();
    // The connection holds its handler until its last event, the handler holds the log, and the
    // messages in the log hold the connection: until that event has come, all of them keep each other.
    waitUntil([&] { return std::ranges::count(events->events(), XPC_ERROR_CONNECTION_INVALID) > 0; }, 5000);
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
    auto reply = std::make_shared<EventLog>(); // outlives a timed-out wait
    xpc_connection_send_message_with_reply(connection, m, nullptr,
                                           [reply](xpc_object_t r) { reply->handler()(std::move(r)); });
    reply->waitFor(1, timeoutMs);
    return reply->last();
}

xpc_object_t HelperConnection::sendWithReply(uint64_t kind, int timeoutMs) {
    return sendWithReply(message(kind), timeoutMs);
}

ScreenCover::ScreenCover(const QColor& colour) {
    XClient x;
    QImage image(x.frameRect(x.root()).size(), QImage::Format_RGB32);
    image.fill(colour);
    window_ = x_.cover(image);
}

ScreenCover::~ScreenCover() {
    if (window_)
        x_.destroy(window_);
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

namespace {

// The processes whose HOME is home: whatever the helper started for this test (a main application
// launched through the URL tool or directly, the tool and the scripts on the way there). They are not
// children of the test, but each carries the environment the helper gave it.
std::vector<pid_t> processesOfHome(const QString& home) {
    const QByteArray wanted = "HOME=" + QFile::encodeName(home);
    std::vector<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number || pid == getpid())
            continue;
        if (fileContents(QStringLiteral("/proc/%1/environ").arg(pid)).split('\0').contains(wanted))
            found.push_back(pid);
    }
    return found;
}

// Gone, or a zombie waiting for whoever reaps it.
bool ended(pid_t pid) {
    const QByteArray line = fileContents(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype state = line.lastIndexOf(')') + 2;
    return state < 2 || state >= line.size() || line[state] == 'Z';
}

// Ends them and waits for each to be gone; again for any that one of them started meanwhile.
void endProcessesOfHome(const QString& home) {
    for (int round = 0; round < 10; ++round) {
        const std::vector<pid_t> pids = processesOfHome(home);
        if (pids.empty())
            return;
        for (pid_t pid : pids)
            ::kill(pid, SIGTERM);
        for (pid_t pid : pids)
            if (!waitUntil([pid] { return ended(pid); }, 5000))
                ::kill(pid, SIGKILL);
    }
    ADD_FAILURE() << "processes of " << home.toStdString() << " keep starting others";
}

} // namespace

void HelperTest::SetUp() {
    ASSERT_FALSE(nameHasOwner(kMainAppName)) << "a main application from elsewhere is running";
    ASSERT_FALSE(nameHasOwner("app.glimra.GlimraHelper")) << "a helper from elsewhere is running";
    ready = std::make_unique<NotificationCounter>("GlimraHelperAppIsReady");
}

void HelperTest::TearDown() {
    main.reset();
    mainApp.releaseName(kMainAppName);
    stopHelper();
    endProcessesOfHome(home.path());
    waitUntil([] { return !nameHasOwner(QStringLiteral("app.glimra.GlimraHelper")); }, 5000);
}

bool HelperTest::startHelper(const QString& executable) {
    const int before = ready->count();
    helper = std::make_unique<Program>(executable.isEmpty() ? kHelperExecutable : executable, QStringList{},
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

Screenshot HelperTest::screenshot(size_t n) {
    if (!main || !main->log.waitForMessages(8, n)) {
        ADD_FAILURE() << "no screenshot " << n << "\n";
        return {};
    }
    const xpc_object_t m = main->log.messages(8)[n - 1];
    const QImage png = QImage::fromData(xpc_dictionary_get_data(m, "PNGData"), "PNG");
    return {png.convertToFormat(QImage::Format_RGB32),
            QString::fromUtf8(xpc_dictionary_get_string(m, "title")),
            QSize(int(xpc_dictionary_get_uint64(m, "width")), int(xpc_dictionary_get_uint64(m, "height")))};
}

void HelperTest::startAsMainApp(HelperConnection::Answer answer) {
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    ASSERT_TRUE(startHelper());
    main = std::make_unique<HelperConnection>(answer);
    ASSERT_TRUE(main->sendWithReply(12));
}

} // namespace glimra::test
