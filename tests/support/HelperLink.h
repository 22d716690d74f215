#pragma once
// The test process in the main application's place: it can own app.glimra.Glimra, runs the real
// helper, and talks to it through the XPC binding on the private session bus.

#include "XTestKit.h"
#include "xpc/Xpc.h"

#include <QColor>

#include <atomic>
#include <memory>
#include <mutex>

namespace glimra::test {

// Events of one XPC connection (or reply handler), recorded from whatever queue they arrive on.
class EventLog {
public:
    xpc::xpc_handler_t handler();
    std::vector<xpc::xpc_object_t> events();
    xpc::xpc_object_t last();
    bool waitFor(size_t count, int timeoutMs = 10000);
    // Messages with this "id", in arrival order.
    std::vector<xpc::xpc_object_t> messages(uint64_t kind);
    bool waitForMessages(uint64_t kind, size_t count, int timeoutMs = 10000);

private:
    std::mutex mutex_;
    std::vector<xpc::xpc_object_t> events_;
};

xpc::xpc_object_t message(uint64_t kind);

// A screenshot as the main application receives it.
struct Screenshot {
    QImage image; // RGB32
    QString title;
    QSize points;
};

// One client connection to the helper, answering its capture requests as told.
class HelperConnection {
public:
    // Ignore holds the requests back unanswered, until answerHeld() or the connection's end.
    enum class Answer { Allow, Refuse, NoKey, Ignore };
    explicit HelperConnection(Answer answer = Answer::Allow);
    ~HelperConnection();

    // Answers the requests held back so far; false when there was none.
    bool answerHeld(bool allow);

    void send(const xpc::xpc_object_t& message);
    void send(std::initializer_list<std::pair<const char*, uint64_t>> values);
    // The reply, or null after timeoutMs.
    xpc::xpc_object_t sendWithReply(const xpc::xpc_object_t& message, int timeoutMs = 10000);
    xpc::xpc_object_t sendWithReply(uint64_t kind, int timeoutMs = 10000);
    void cancel();

    xpc::xpc_connection_t connection;
    // Shared with the connection's handler, which may still run after this object is gone.
    std::shared_ptr<EventLog> events = std::make_shared<EventLog>();
    EventLog& log = *events;
    std::shared_ptr<std::atomic<Answer>> answer;

private:
    static void answerRequest(const xpc::xpc_object_t& request, Answer how);

    struct HeldRequests {
        std::mutex mutex;
        std::vector<xpc::xpc_object_t> requests;
    };
    std::shared_ptr<HeldRequests> held_ = std::make_shared<HeldRequests>();
};

// An override-redirect window above every other window, covering the whole screen with a picture
// of one colour: what a full-screen grab must see, whatever else other tests left on screen.
class ScreenCover {
public:
    explicit ScreenCover(const QColor& colour);
    ~ScreenCover();

private:
    XClient x_;
    xcb_window_t window_ = 0;
};

// Counts "Posted" broadcasts of one notification name on the session bus.
class NotificationCounter : public QObject {
    Q_OBJECT
public:
    explicit NotificationCounter(const QString& name);
    int count() const { return count_; }
private slots:
    void posted(const QString& name, const QString& object);

private:
    QString name_;
    int count_ = 0;
};

// Runs the real helper for one test, in a home of its own, optionally with the main application's
// bus name owned by the test (released again when the test ends).
class HelperTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the helper (from the built bundle unless executable is given) in the test's home and
    // waits until it announced readiness; false when it did not.
    bool startHelper(const QString& executable = QString());
    void stopHelper();
    QString helperOutput() { return helper ? helper->output() : QString(); }
    // The test in the main application's place: it owns the name, starts the helper and connects.
    void startAsMainApp(HelperConnection::Answer answer = HelperConnection::Answer::Allow);
    QString shotsDir() const { return home.path("shots"); }
    // The nth screenshot main received (1 the first), waited for; a failure when none came.
    Screenshot screenshot(size_t n);

    IsolatedHome home;
    // The main application's name, owned by the connection this process's XPC clients use.
    BusClient mainApp{BusClient::Shared};
    std::unique_ptr<Program> helper;
    std::unique_ptr<NotificationCounter> ready;
    std::unique_ptr<HelperConnection> main;
};

} // namespace glimra::test
