#include "TestInput.h"

#include "DesktopInput.h"
#include "XTestKit.h"

namespace glimra::test {

void TestInput::press(std::initializer_list<uint32_t> modifiers, uint32_t k, bool byCode) {
    for (bool down : {true, false}) {
        for (uint32_t modifier : modifiers)
            key(modifier, down);
        byCode ? keyCode(k, down) : key(k, down);
    }
}

void TestInput::click(int x, int y, uint8_t number) {
    motion(x, y);
    button(number, true);
    button(number, false);
}

std::unique_ptr<TestInput> xtestInput(const QString& display) {
    return std::make_unique<XClient>(display);
}

std::unique_ptr<TestInput> sessionInput() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
        if (desktop == QLatin1String("KDE"))
            return std::make_unique<KWinInput>();
        if (desktop == QLatin1String("GNOME"))
            return std::make_unique<GnomeInput>();
        return std::make_unique<WaylandInput>();
    }
    return xtestInput(QString());
}

} // namespace glimra::test
