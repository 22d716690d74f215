#include "overlay/ScreenChangeWatch.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace glimra {

ScreenChangeWatch::ScreenChangeWatch(std::function<void()> changed) : changed_(std::move(changed)) {
    const auto watchScreen = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, &ScreenChangeWatch::post);
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, &ScreenChangeWatch::post);
        connect(screen, &QScreen::physicalDotsPerInchChanged, this, &ScreenChangeWatch::post);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, watchScreen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &ScreenChangeWatch::post);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenChangeWatch::post);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &ScreenChangeWatch::post);
}

void ScreenChangeWatch::post() {
    if (posted_)
        return;
    posted_ = true;
    QTimer::singleShot(0, this, [this] {
        posted_ = false;
        changed_();
    });
}

} // namespace glimra
