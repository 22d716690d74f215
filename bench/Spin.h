#pragma once
// The event loop of a benchmark that waits for another process.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// Spins the event loop until done() or timeoutMs; false on timeout.
inline bool spin(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        // Sleeps until something happens: a busy loop here would take a core from the helper.
        QTimer::singleShot(20, [] {});
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
