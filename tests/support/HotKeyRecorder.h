#pragma once
// A handler that writes down every hot-key event of an event target, as " pressed 3 released 3".

#include "TestSupport.h"
#include "hotkeys/CarbonEvents.h"

#include <gtest/gtest.h>

namespace glimra::test {

class HotKeyRecorder {
public:
    explicit HotKeyRecorder(carbon::EventTargetRef target) {
        const carbon::EventTypeSpec kinds[] = {{carbon::kEventClassKeyboard, carbon::kEventHotKeyPressed},
                                               {carbon::kEventClassKeyboard, carbon::kEventHotKeyReleased}};
        EXPECT_EQ(carbon::InstallEventHandler(target, &HotKeyRecorder::record, 2, kinds, this, nullptr),
                  carbon::noErr);
    }

    // The events so far once count of them have come (or five seconds passed), and a quarter of a
    // second later, so that extra ones show.
    std::string after(size_t count) {
        waitUntil([&] { return count_ >= count; }, 5000);
        pause(250);
        return text_.empty() ? " nothing" : text_;
    }
    void clear() {
        text_.clear();
        count_ = 0;
    }

private:
    static carbon::OSStatus record(carbon::EventHandlerCallRef, carbon::EventRef event, void* self) {
        carbon::EventHotKeyID id{};
        EXPECT_EQ(carbon::GetEventParameter(event, carbon::kEventParamDirectObject, carbon::typeEventHotKeyID,
                                            nullptr, sizeof id, nullptr, &id),
                  carbon::noErr);
        auto* recorder = static_cast<HotKeyRecorder*>(self);
        recorder->text_ +=
            (carbon::GetEventKind(event) == carbon::kEventHotKeyPressed ? " pressed " : " released ") +
            std::to_string(id.id);
        ++recorder->count_;
        return carbon::noErr;
    }

    std::string text_;
    size_t count_ = 0;
};

} // namespace glimra::test
