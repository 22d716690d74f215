#include "MouseEventMonitor.h"

#include "Desktop.h"

#include <QCoreApplication>

namespace carbon {

namespace {

std::unique_ptr<MouseEventMonitor>& applicationMonitor() {
    static std::unique_ptr<MouseEventMonitor> monitor;
    return monitor;
}

// Runs while QCoreApplication is being destroyed, when its event dispatcher still exists for the
// source's socket notifier to leave cleanly.
void destroyApplicationMonitor() {
    applicationMonitor().reset();
}

} // namespace

MouseEventMonitor& MouseEventMonitor::application() {
    auto& monitor = applicationMonitor();
    if (!monitor) {
        monitor = std::make_unique<MouseEventMonitor>(glimra::Desktop::current().makeMouseEventSource());
        if (QCoreApplication::instance())
            qAddPostRoutine(destroyApplicationMonitor);
    }
    return *monitor;
}

MouseEventMonitor::MouseEventMonitor(std::unique_ptr<glimra::MouseEventSource> source, QObject* parent)
    : QObject(parent), m_source(std::move(source)) {
    m_handlers.canInstall = [this] { return m_source->available() ? noErr : eventInternalErr; };
    m_handlers.installedCountChanged = [this](size_t installed) { watch(installed > 0); };
}

MouseEventMonitor::~MouseEventMonitor() = default;

void MouseEventMonitor::watch(bool on) {
    if (on == m_watching || !m_source->available())
        return;
    m_watching = on;
    if (on)
        m_source->start([this](UInt32 kind) { deliver(kind); });
    else
        m_source->stop();
}

void MouseEventMonitor::deliver(UInt32 kind) {
    OpaqueEventRef event{kEventClassMouse, kind, {}};
    m_handlers.dispatch(event);
}

} // namespace carbon
