#include "EscapeKey.h"

#include "CarbonEvents.h"
#include "HotKeyCenter.h"

#include <QLoggingCategory>
#include <QPointer>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

using namespace carbon;

namespace glimra {

namespace {

// Told apart from the global hot keys, whose handlers see every hot-key event of the application.
constexpr OSType kEscapeSignature = makeFourCharCode("GlEs");

class HeldEscapeKey final : public EscapeKey {
public:
    explicit HeldEscapeKey(HotKeyCenter& center) : center_(&center) {
        const EventTypeSpec released{kEventClassKeyboard, kEventHotKeyReleased};
        if (InstallEventHandler(center_->target(), &HeldEscapeKey::released, 1, &released, this, &handler_) !=
            noErr)
            handler_ = nullptr;
    }

    ~HeldEscapeKey() override {
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
        if (!center_->backend().holdsKeysBriefly()) {
            static bool told = false; // once per process
            if (!told)
                qCInfo(lcHotKeys,
                       "Escape is not held for the whole desktop here: %s would ask the user first",
                       qPrintable(center_->backend().objectName()));
            told = true;
            return false;
        }
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
        auto* self = static_cast<HeldEscapeKey*>(userData);
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
    return makeEscapeKey(HotKeyCenter::application());
}

std::unique_ptr<EscapeKey> makeEscapeKey(HotKeyCenter& center) {
    return std::make_unique<HeldEscapeKey>(center);
}

} // namespace glimra
