#pragma once
// A small stand-in for libdispatch: the Qt main thread as the main queue, and serial queues that each
// run their jobs on one worker thread of their own, in FIFO order.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {

class Queue {
public:
    virtual ~Queue() = default;
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // Runs fn on the queue, after every job queued before it.
    virtual void async(std::function<void()> fn) = 0;
    // Queues fn once delay has passed; delayed jobs run in the order they fall due.
    virtual void after(std::chrono::nanoseconds delay, std::function<void()> fn) = 0;
    virtual const std::string& label() const = 0;
    // True on the thread that runs this queue's jobs.
    virtual bool isCurrent() const = 0;

protected:
    Queue() = default;
};

using QueuePtr = std::shared_ptr<Queue>;

// The queue of the Qt main thread; its jobs run from QCoreApplication::instance()'s event loop.
QueuePtr dispatch_get_main_queue();

// A new serial queue. Destroying the last reference runs what is already due, then joins the worker;
// delayed jobs that are not yet due are dropped.
QueuePtr dispatch_queue_create(std::string label);

void dispatch_async(const QueuePtr& queue, std::function<void()> block);
void dispatch_after(std::chrono::nanoseconds delay, const QueuePtr& queue, std::function<void()> block);
// Runs block on queue and waits for it; runs it inline when already on queue.
void dispatch_sync(const QueuePtr& queue, std::function<void()> block);

} // namespace dispatch
