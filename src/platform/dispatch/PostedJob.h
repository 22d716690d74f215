#pragma once
// A job posted to a QObject's thread as an event. Unlike QMetaObject::invokeMethod with a lambda, the
// job is complete before it is handed over, so the handover can carry a happens-before edge that
// ThreadSanitizer sees (Qt's own synchronisation is invisible to it).

#include <QEvent>

#include <functional>
#include <memory>

class QObject;

namespace dispatch {

class PostedJob final : public QEvent {
public:
    explicit PostedJob(std::function<void()> job);
    ~PostedJob() override;
    static QEvent::Type eventType();
    void run();

private:
    std::function<void()> job_;
};

// The receiver's event() must pass events of PostedJob::eventType() to runPostedJob.
void postJob(QObject* receiver, std::function<void()> job);
// Runs event when it is a posted job; false for any other event.
bool runPostedJob(QEvent* event);

} // namespace dispatch
