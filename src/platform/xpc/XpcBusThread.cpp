// The bus thread: started on first use, stopped as the application object goes.

#include "xpc/XpcBus.h"

#include "Log.h"
#include "dispatch/PostedJob.h"
#include "xpc/XpcNames.h"

#include <QCoreApplication>
#include <QThread>

#include <future>
#include <mutex>

namespace xpc {

namespace bus {
namespace {

struct Host {
    QThread thread;
    std::unique_ptr<BusAgent> agent; // destroyed before the thread object
    bool fdPassing = false;
};

struct HostSlot {
    std::mutex mutex;
    std::unique_ptr<Host> host;
    bool stopped = false; // the application object is gone: no bus any more

    // Only reached with a host when the process exits without destroying its application object
    // (exit() from a handler): stop the thread, and leave the rest to the exiting process, since the
    // bus connection it refers to may be gone already.
    ~HostSlot() {
        if (!host)
            return;
        host->thread.quit();
        host->thread.wait();
        (void)host.release();
    }
};

HostSlot& slot() {
    static HostSlot instance;
    return instance;
}

// Runs fn on the bus thread and waits for it.
void runBlocking(BusAgent* agent, const std::function<void()>& fn) {
    std::promise<void> done;
    dispatch::postJob(agent, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

void stopHost() {
    std::unique_ptr<Host> host;
    {
        std::lock_guard lock(slot().mutex);
        host = std::move(slot().host);
        slot().stopped = true;
    }
    if (!host)
        return;
    BusAgent* agent = host->agent.get();
    runBlocking(agent, [agent] { agent->shutdown(); });
    host->thread.quit();
    host->thread.wait();
}

// Called with the slot locked.
Host* ensureHost() {
    HostSlot& s = slot();
    if (s.host || s.stopped)
        return s.host.get();
    if (!QCoreApplication::instance()) {
        NSLog("xpc: no application object, so no bus");
        return nullptr;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        NSLog("xpc: no session bus: %@", bus.lastError().message());
        return nullptr;
    }
    auto host = std::make_unique<Host>();
    host->fdPassing = bus.connectionCapabilities().testFlag(QDBusConnection::UnixFileDescriptorPassing);
    if (!host->fdPassing)
        NSLog("xpc: the session bus cannot pass file descriptors; large data travels inline");
    host->agent = std::make_unique<BusAgent>();
    host->thread.setObjectName("xpc-bus");
    host->agent->moveToThread(&host->thread);
    host->thread.start();
    BusAgent* agent = host->agent.get();
    bool registered = false;
    runBlocking(agent, [&] { registered = bus.registerVirtualObject(names::kPath, agent); });
    if (!registered)
        NSLog("xpc: the object path /xpc is already taken in this process");
    qAddPostRoutine(stopHost);
    s.host = std::move(host);
    return s.host.get();
}

} // namespace

bool post(std::function<void(BusAgent&)> job) {
    std::lock_guard lock(slot().mutex);
    Host* host = ensureHost();
    if (!host)
        return false;
    BusAgent* agent = host->agent.get();
    dispatch::postJob(agent, [agent, job = std::move(job)] { job(*agent); });
    return true;
}

bool run(const std::function<void(BusAgent&)>& job) {
    BusAgent* agent = nullptr;
    {
        std::lock_guard lock(slot().mutex);
        Host* host = ensureHost();
        if (!host)
            return false;
        agent = host->agent.get();
    }
    // Not under the lock: the job may take a while (a blocking bus call), and other threads may post
    // meanwhile. The host is only stopped as the application object goes away.
    runBlocking(agent, [agent, &job] { job(*agent); });
    return true;
}

bool fdPassing() {
    std::lock_guard lock(slot().mutex);
    Host* host = ensureHost();
    return host && host->fdPassing;
}

} // namespace bus
} // namespace xpc
