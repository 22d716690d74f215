#include "dispatch/Dispatch.h"

#include "Log.h"
#include "dispatch/PostedJob.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace dispatch {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the main queue's jobs on the main thread.
class MainReceiver final : public QObject {
public:
    bool event(QEvent* e) override { return runPostedJob(e) || QObject::event(e); }
};

class MainQueue final : public Queue {
public:
    void async(std::function<void()> fn) override {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            NSLog("dispatch: no application object, a job for the main queue was dropped");
            return;
        }
        postJob(receiver(*app), std::move(fn));
    }

    void after(std::chrono::nanoseconds delay, std::function<void()> fn) override {
        if (delay <= std::chrono::nanoseconds::zero()) {
            async(std::move(fn));
            return;
        }
        // Timers belong to the thread that starts them, so the timer is started on the main thread;
        // the deadline is fixed now so the hop there does not lengthen the delay.
        const Clock::time_point deadline = Clock::now() + delay;
        async([deadline, fn = std::move(fn)]() mutable {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const int ms = int(std::clamp<decltype(left)>(left, 0, std::numeric_limits<int>::max()));
            QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), std::move(fn));
        });
    }

    const std::string& label() const override { return label_; }

    bool isCurrent() const override {
        const QCoreApplication* app = QCoreApplication::instance();
        return app && QThread::currentThread() == app->thread();
    }

private:
    QObject* receiver(const QCoreApplication& app) {
        std::lock_guard lock(mutex_);
        if (!receiver_) {
            receiver_ = std::make_unique<MainReceiver>();
            receiver_->moveToThread(app.thread());
        }
        return receiver_.get();
    }

    const std::string label_ = "main";
    std::mutex mutex_;
    std::unique_ptr<MainReceiver> receiver_;
};

// Worker state outlives the queue object when the last reference is dropped by one of its own jobs.
struct SerialState {
    std::mutex mutex;
    std::condition_variable wake;
    // Keyed by due time, then by order of submission: FIFO for jobs due at once.
    std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> jobs;
    uint64_t nextSequence = 0;
    bool stopping = false;
};

thread_local const SerialState* currentSerialState = nullptr;

class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label)
        : label_(std::move(label)), state_(std::make_shared<SerialState>()),
          worker_([state = state_] { run(*state); }) {}

    ~SerialQueue() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
        }
        state_->wake.notify_all();
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach();
        else
            worker_.join();
    }

    void async(std::function<void()> fn) override { enqueue(Clock::time_point{}, std::move(fn)); }

    void after(std::chrono::nanoseconds delay, std::function<void()> fn) override {
        enqueue(Clock::now() + std::max(delay, std::chrono::nanoseconds::zero()), std::move(fn));
    }

    const std::string& label() const override { return label_; }
    bool isCurrent() const override { return currentSerialState == state_.get(); }

private:
    // due == time_point{} means "now", read under the lock so that submission order is kept.
    void enqueue(Clock::time_point due, std::function<void()> fn) {
        if (!fn)
            return;
        {
            std::lock_guard lock(state_->mutex);
            if (due == Clock::time_point{})
                due = Clock::now();
            state_->jobs.emplace(std::make_pair(due, state_->nextSequence++), std::move(fn));
        }
        state_->wake.notify_one();
    }

    static void run(SerialState& s) {
        currentSerialState = &s;
        std::unique_lock lock(s.mutex);
        for (;;) {
            if (s.jobs.empty()) {
                if (s.stopping)
                    break;
                s.wake.wait(lock);
                continue;
            }
            auto first = s.jobs.begin();
            if (first->first.first > Clock::now()) {
                if (s.stopping) {
                    // Not yet due and nobody left to wait for them: drop them, outside the lock since
                    // their captures may own anything.
                    auto dropped = std::move(s.jobs);
                    s.jobs.clear();
                    lock.unlock();
                    dropped.clear();
                    lock.lock();
                    continue;
                }
                s.wake.wait_until(lock, first->first.first);
                continue;
            }
            std::function<void()> job = std::move(first->second);
            s.jobs.erase(first);
            lock.unlock();
            job();
            job = nullptr; // captures die before the next job, and not under the lock
            lock.lock();
        }
        currentSerialState = nullptr;
    }

    const std::string label_;
    std::shared_ptr<SerialState> state_;
    std::thread worker_;
};

} // namespace

QueuePtr dispatch_get_main_queue() {
    static const QueuePtr mainQueue = std::make_shared<MainQueue>();
    return mainQueue;
}

QueuePtr dispatch_queue_create(std::string label) {
    return std::make_shared<SerialQueue>(std::move(label));
}

void dispatch_async(const QueuePtr& queue, std::function<void()> block) {
    if (!queue) {
        NSLog("dispatch_async: no queue, the job was dropped");
        return;
    }
    queue->async(std::move(block));
}

void dispatch_after(std::chrono::nanoseconds delay, const QueuePtr& queue, std::function<void()> block) {
    if (!queue) {
        NSLog("dispatch_after: no queue, the job was dropped");
        return;
    }
    queue->after(delay, std::move(block));
}

void dispatch_sync(const QueuePtr& queue, std::function<void()> block) {
    if (!queue) {
        NSLog("dispatch_sync: no queue, the job was dropped");
        return;
    }
    if (queue->isCurrent()) {
        block();
        return;
    }
    // The waiter is released when the job is destroyed, whether it ran or the queue dropped it.
    struct Release {
        std::promise<void> done;
        ~Release() { done.set_value(); }
    };
    auto release = std::make_shared<Release>();
    std::future<void> finished = release->done.get_future();
    queue->async([release = std::move(release), block = std::move(block)] { block(); });
    finished.wait();
}

} // namespace dispatch
