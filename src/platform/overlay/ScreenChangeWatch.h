#pragma once

#include <QObject>

#include <functional>

namespace glimra {

// Tells of Qt's screen changes (a screen added, removed, made primary, moved, resized or rescaled) once
// the event loop comes round, when the screen list reads the new state: a burst of them is one call.
class ScreenChangeWatch : public QObject {
public:
    explicit ScreenChangeWatch(std::function<void()> changed);

protected:
    // For the display server's own notifications, which Qt's screens do not all follow.
    void post();

private:
    std::function<void()> changed_;
    bool posted_ = false;
};

} // namespace glimra
