#include "EscapeKey.h"

#include "CarbonEvents.h"
#include "HotKeyCenter.h"

#include <QPointer>

using namespace carbon;

namespace glimra {

namespace {

// Told apart from the global hot keys, whose handlers see every hot-key event of the application.
constexpr OSType kEscapeSignature = makeFourCharCode("GlEs");

class X11EscapeKey final : public EscapeKey {
public:
    X11EscapeKey() : center_(&HotKeyCenter::application()) {
        const EventTypeSpec released{kEventClassKeyboard, kEventHotKeyReleased};
        if (InstallEventHandler(center_->target(), &X11EscapeKey::released, 1, &released, this, &handler_) !=
            noErr)
            handler_ = nullptr;
    }

    ~X11EscapeKey() override {
        release();
        // The hot keys' center goes with the application object; its records with it.
        if (center_ && handler_)
            RemoveEventHandler(handler_);
    }

    bool grab(std::function<void()> onEscape) override {
        onEscape_ = std::move(onEscape);
        if (hotKey_)
            return true;
        if (!center_ || !handler_)
            return false;
        if (RegisterEventHotKey(kVK_Escape, 0, {kEscapeSignature, 1}, center_->target(), 0, &hotKey_) !=
            noErr)
            hotKey_ = nullptr;
        return hotKey_ != nullptr;
    }

    void release() override {
        onEscape_ = nullptr;
        if (hotKey_ && center_)
            UnregisterEventHotKey(hotKey_);
        hotKey_ = nullptr;
    }

private:
    static OSStatus released(EventHandlerCallRef, EventRef event, void* userData) {
        EventHotKeyID id{};
        if (GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof(id), nullptr,
                              &id) != noErr ||
            id.signature != kEscapeSignature)
            return noErr;
        auto* self = static_cast<X11EscapeKey*>(userData);
        // The handler may release the key, and with it itself.
        if (const std::function<void()> onEscape = self->onEscape_)
            onEscape();
        return noErr;
    }

    QPointer<HotKeyCenter> center_;
    EventHandlerRef handler_ = nullptr;
    EventHotKeyRef hotKey_ = nullptr;
    std::function<void()> onEscape_;
};

} // namespace

std::unique_ptr<EscapeKey> makeEscapeKey() {
    return std::make_unique<X11EscapeKey>();
}

} // namespace glimra
