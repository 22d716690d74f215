#include "dispatch/PostedJob.h"

#include <QCoreApplication>

#if defined(__SANITIZE_THREAD__)
#define GLIMRA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define GLIMRA_TSAN 1
#endif
#endif

#ifdef GLIMRA_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace dispatch {
namespace {

// The event's own address is the synchronisation point: nothing of it is read before the acquire.
void handOff([[maybe_unused]] void* event) {
#ifdef GLIMRA_TSAN
    __tsan_release(event);
#endif
}

void takeOver([[maybe_unused]] void* event) {
#ifdef GLIMRA_TSAN
    __tsan_acquire(event);
#endif
}

} // namespace

PostedJob::PostedJob(std::function<void()> job) : QEvent(eventType()), job_(std::move(job)) {}

// Also reached for a job that never ran (its receiver went first).
PostedJob::~PostedJob() {
    takeOver(this);
}

QEvent::Type PostedJob::eventType() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void PostedJob::run() {
    takeOver(this);
    if (job_)
        job_();
}

void postJob(QObject* receiver, std::function<void()> job) {
    auto event = std::make_unique<PostedJob>(std::move(job));
    handOff(event.get());
    QCoreApplication::postEvent(receiver, event.release()); // Qt owns posted events
}

bool runPostedJob(QEvent* event) {
    takeOver(event); // before even its type is read
    if (event->type() != PostedJob::eventType())
        return false;
    static_cast<PostedJob*>(event)->run();
    return true;
}

} // namespace dispatch
