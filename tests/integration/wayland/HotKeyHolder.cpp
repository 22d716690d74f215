// Holds the helper's five hot keys on the application's center, chosen for the session as the helper's
// is, and says so; prints every hot-key event; SIGTERM quits it through the event loop, as the helper.

#include "UnixSignals.h"
#include "hotkeys/CarbonEvents.h"

#include <QGuiApplication>

#include <cstdio>

using namespace carbon;

namespace {

OSStatus print(EventHandlerCallRef, EventRef event, void*) {
    EventHotKeyID id{};
    GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id, nullptr, &id);
    std::printf("hot key %u %s\n", id.id,
                GetEventKind(event) == kEventHotKeyPressed ? "pressed" : "released");
    std::fflush(stdout);
    return noErr;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    glimra::quitApplicationOnTerminationSignals();
    const EventTypeSpec kinds[] = {{kEventClassKeyboard, kEventHotKeyPressed},
                                   {kEventClassKeyboard, kEventHotKeyReleased}};
    InstallEventHandler(GetApplicationEventTarget(), print, 2, kinds, nullptr, nullptr);
    const struct {
        UInt32 keyCode, modifiers, id;
    } hotKeys[] = {{kVK_ANSI_5, cmdKey | shiftKey, 1},
                   {kVK_ANSI_5, cmdKey | shiftKey | optionKey, 2},
                   {kVK_ANSI_5, cmdKey | shiftKey | controlKey, 5},
                   {kVK_ANSI_6, cmdKey | shiftKey, 3},
                   {kVK_ANSI_1, cmdKey | shiftKey | optionKey, 4}};
    int held = 0;
    for (const auto& h : hotKeys)
        held += RegisterEventHotKey(h.keyCode, h.modifiers, {makeFourCharCode("GlHk"), h.id},
                                    GetApplicationEventTarget(), 0, nullptr) == noErr;
    std::printf("holding %d of 5\n", held);
    std::fflush(stdout);
    return QGuiApplication::exec();
}
