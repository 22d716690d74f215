// The resize panel's arithmetic and rules, on an offscreen display: reading typed numbers, clamping,
// the locked ratio rounded down in single precision, the round trip of a size ending, steps, the
// ending actions with their cursor reset, a delegate that is gone, and the layout in each language.

#include "DarkPanel.h"
#include "GeometryPrinting.h"
#include "NSButton.h"
#include "RecordingResizeDelegate.h"
#include "TestSupport.h"
#include "VLI18NTextField.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTranslator>
#include <QWindow>
#include <gtest/gtest.h>

#include <cfloat>
#include <optional>

using glimra::test::RecordingResizeDelegate;
using Messages = std::vector<QString>;

namespace {

struct Reading {
    const char* locale;
    const char* text;
    std::optional<double> number;
};

class NumberReading : public ::testing::TestWithParam<Reading> {};

// Decimal, lenient, no grouping, at least 1: what the panel's fields accept.
TEST_P(NumberReading, ReadsWhatTheFieldsAccept) {
    glimra::NSNumberFormatter formatter = ImageCaptureCrosshairResizeWindowController().numberFormatter();
    formatter.setLocale(QLocale(QString::fromLatin1(GetParam().locale)));
    EXPECT_EQ(formatter.numberFromString(QString::fromUtf8(GetParam().text)), GetParam().number)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    ResizePanel, NumberReading,
    ::testing::Values(Reading{"en_US", "12.7", 12.7}, Reading{"de_DE", "12,7", 12.7},
                      Reading{"de_DE", "12.7", 12.7}, Reading{"en_US", "1,200", 1200.0},
                      Reading{"de_DE", "1.200", 1200.0}, Reading{"en_US", " 640 ", 640.0},
                      Reading{"fr_FR", "1 200", 1200.0}, Reading{"en_US", "1", 1.0},
                      Reading{"en_US", "0.5", std::nullopt}, Reading{"en_US", "0", std::nullopt},
                      Reading{"en_US", "-5", std::nullopt}, Reading{"en_US", "abc", std::nullopt},
                      Reading{"en_US", "640px", std::nullopt}, Reading{"en_US", "", std::nullopt},
                      Reading{"en_US", "inf", std::nullopt}));

TEST(ResizePanel, WritesPlainLocalizedNumbers) {
    glimra::NSNumberFormatter formatter = ImageCaptureCrosshairResizeWindowController().numberFormatter();
    formatter.setLocale(QLocale(QStringLiteral("de_DE")));
    EXPECT_EQ(formatter.stringFromNumber(12000), QStringLiteral("12000"));
    EXPECT_EQ(formatter.stringFromNumber(640.5), QStringLiteral("640,5"));
    EXPECT_EQ(formatter.stringFromNumber(-0.0001), QStringLiteral("0"));
}

class ResizePanelTest : public ::testing::Test {
protected:
    ResizePanelTest() {
        panel->setDelegate(&delegate);
        panel->setCrosshairSize({400, 300});
        delegate.messages.clear();
    }
    ~ResizePanelTest() override {
        panel.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    CGSize shown() const { return panel->crosshairSize(); }

    RecordingResizeDelegate delegate;
    std::unique_ptr<ImageCaptureCrosshairResizeWindowController> panel =
        std::make_unique<ImageCaptureCrosshairResizeWindowController>();
};

struct Typed {
    const char* text;
    double maxWidth;
    double width;
};

void PrintTo(const Typed& t, std::ostream* os) {
    *os << t.text << " up to " << t.maxWidth;
}

class TypedWidth : public ResizePanelTest, public ::testing::WithParamInterface<Typed> {};

// Unlocked, the height stays whatever the width becomes.
TEST_P(TypedWidth, IsHeldBetweenOneAndTheMaximum) {
    panel->setMaxCrosshairSize({GetParam().maxWidth, 1080});
    panel->setCaptureWidth(QString::fromLatin1(GetParam().text));
    EXPECT_EQ(shown(), (CGSize{GetParam().width, 300}));
}

INSTANTIATE_TEST_SUITE_P(ResizePanel, TypedWidth,
                         ::testing::Values(Typed{"0", 1920, 1}, Typed{"-5", 1920, 1}, Typed{"abc", 1920, 1},
                                           Typed{"12.7", 1920, 12}, Typed{"5000", 1920, 1920},
                                           Typed{"99999999999999999999", 1920, 1920},
                                           Typed{"123456", DBL_MAX, 123456}));

struct Edit {
    const char* name;
    const char* typed; // over the selected width; \b is Backspace
    const char* shows;
    Messages messages;
};

class WidthFieldEdit : public ResizePanelTest, public ::testing::WithParamInterface<Edit> {};

// Typed over the selected width, then Return: a number goes to the rules above; text that is no
// number is refused, the last width stays and is captured.
TEST_P(WidthFieldEdit, CommitsNumbersOnly) {
    panel->window()->show();
    QLineEdit* field = panel->widthField();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QString::fromLatin1(GetParam().typed));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(field->text(), QString::fromLatin1(GetParam().shows));
    EXPECT_EQ(delegate.messages, GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    ResizePanel, WidthFieldEdit,
    ::testing::Values(Edit{"Number", "640", "640", {"size 640x300", "capture"}},
                      Edit{"Letters", "abc", "400", {"capture"}},
                      Edit{"StrayLetterInANumber", "6k4", "64", {"size 64x300", "capture"}},
                      Edit{"Emptied", "\b", "400", {"capture"}},
                      Edit{"NoNumberYet", "-", "400", {"capture"}}),
    glimra::test::caseName);

struct LockedCase {
    CGSize lockedAt;
    bool typesWidth;
    double typed;
    CGSize result;
    double ratio = 0; // the overlay's, when it differs from the size locked at
};

class LockedRatio : public ResizePanelTest, public ::testing::WithParamInterface<LockedCase> {};

// The other side is the product in single precision, rounded down: a product just under a whole
// number in double precision still gives that number.
TEST_P(LockedRatio, DerivesTheOtherSide) {
    const LockedCase c = GetParam();
    panel->setCrosshairSize(c.lockedAt);
    panel->toggleLockRatio();
    if (c.ratio)
        delegate.ratio = c.ratio;
    const QString typed = QString::number(c.typed);
    c.typesWidth ? panel->setCaptureWidth(typed) : panel->setCaptureHeight(typed);
    EXPECT_EQ(shown(), c.result);
}

INSTANTIATE_TEST_SUITE_P(ResizePanel, LockedRatio,
                         ::testing::Values(LockedCase{{200, 113}, true, 200, {200, 113}},
                                           LockedCase{{109, 100}, false, 100, {109, 100}},
                                           LockedCase{{400, 300}, true, 640, {640, 480}},
                                           // Derived sides are not held to any bound.
                                           LockedCase{{1000, 1}, true, 10, {10, 0}},
                                           LockedCase{{400, 300}, true, 201, {201, 100}, 0.5},
                                           LockedCase{{400, 300}, false, 75, {150, 75}, 0.5}));

TEST_F(ResizePanelTest, TogglingSendsTheFieldsRatio) {
    panel->toggleLockRatio();
    panel->setCrosshairSize({200, 300});
    panel->toggleLockRatio();
    EXPECT_EQ(delegate.messages, (Messages{"lock 1 0.75", "size 200x300", "lock 0 1.5"}));

    // A field emptied while editing has no ratio: the size shown last gives it.
    panel->widthField()->clear();
    panel->toggleLockRatio();
    EXPECT_EQ(delegate.messages.back(), QStringLiteral("lock 1 1.5"));
}

TEST_F(ResizePanelTest, ASizePushedBackEndsTheRoundTrip) {
    delegate.pushesSizeBack = true;
    panel->setCaptureWidth(QStringLiteral("640"));
    EXPECT_EQ(delegate.messages, (Messages{"size 640x300"}));
    panel->setCrosshairSize({640, 300});
    EXPECT_EQ(delegate.messages.size(), 1u);
    // A new panel shows nothing yet and takes (0, 0) as no change.
    ImageCaptureCrosshairResizeWindowController fresh;
    fresh.setDelegate(&delegate);
    fresh.setCrosshairSize({0, 0});
    EXPECT_EQ(delegate.messages.size(), 1u);
    EXPECT_TRUE(fresh.widthField()->text().isEmpty());
}

TEST_F(ResizePanelTest, StepsArePixelsWithinTheBounds) {
    panel->setMaxCrosshairSize({401, 1080});
    panel->incrementWidth();
    panel->incrementWidth();
    EXPECT_EQ(shown(), (CGSize{401, 300}));
    panel->setCrosshairSize({2, 1});
    panel->decrementWidth();
    panel->decrementWidth();
    panel->decrementHeight();
    EXPECT_EQ(shown(), (CGSize{1, 1}));
}

// Capture after capture makes a panel, shows it and lets it go: once the first ones have been drawn,
// more of them leave the heap where it was.
TEST(ResizePanel, PanelAfterPanelLeavesNothingBehind) {
    const auto showAndLetGo = [] {
        auto panel = std::make_unique<ImageCaptureCrosshairResizeWindowController>();
        panel->window()->show();
        (void)panel->window()->grab();
        panel.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 10; ++i)
        showAndLetGo();
    const long long before = glimra::test::heapInUse();
    constexpr int kPanels = 40;
    for (int i = 0; i < kPanels; ++i)
        showAndLetGo();
    // A panel that kept its artwork's pixmaps would hold about 30 KB.
    EXPECT_LT(glimra::test::heapInUse() - before, kPanels * 4096LL);
}

TEST_F(ResizePanelTest, EndingActionsTellTheDelegateOnceAndResetTheCursorWhenAccepting) {
    QWindow window;
    const auto cursorResetAfter = [&](void (ImageCaptureCrosshairResizeWindowController::*action)()) {
        window.setCursor(Qt::CrossCursor);
        (panel.get()->*action)();
        glimra::test::pause(350);
        return window.cursor().shape() == Qt::ArrowCursor;
    };
    EXPECT_FALSE(cursorResetAfter(&ImageCaptureCrosshairResizeWindowController::cancelCapture));
    EXPECT_TRUE(cursorResetAfter(&ImageCaptureCrosshairResizeWindowController::acceptCapture));
    EXPECT_TRUE(cursorResetAfter(&ImageCaptureCrosshairResizeWindowController::fullscreenCapture));
    // Timer commits the field being edited first.
    panel->window()->show();
    panel->heightField()->setFocus();
    panel->heightField()->setText(QStringLiteral("250"));
    panel->heightField()->setModified(true);
    EXPECT_TRUE(cursorResetAfter(&ImageCaptureCrosshairResizeWindowController::timedCapture));
    EXPECT_EQ(delegate.messages, (Messages{"cancel", "capture", "fullscreen", "size 400x250", "timer"}));
}

TEST_F(ResizePanelTest, ADelegateThatIsGoneHearsNothing) {
    {
        RecordingResizeDelegate shortLived;
        panel->setDelegate(&shortLived);
    }
    panel->toggleLockRatio();
    panel->setCaptureHeight(QStringLiteral("200")); // no ratio to derive the width from: it stays
    panel->acceptCapture();
    panel->cancelCapture();
    EXPECT_EQ(shown(), (CGSize{400, 200}));
    EXPECT_TRUE(delegate.messages.empty());
}

class Layout : public ::testing::TestWithParam<const char*> {};

// In every language each control shows its whole text, nothing overlaps, and Capture keeps to the
// right edge.
TEST_P(Layout, FitsTheTranslatedStrings) {
    QTranslator translator;
    const QString language = QString::fromLatin1(GetParam());
    if (language != QStringLiteral("en")) {
        ASSERT_TRUE(translator.load(
            QApplication::applicationDirPath() +
            QStringLiteral("/Contents/Resources/translations/GlimraHelper_%1.qm").arg(language)));
        QCoreApplication::installTranslator(&translator);
    }
    {
        ImageCaptureCrosshairResizeWindowController panel;
        QWidget* content = panel.captureButton()->parentWidget();
        const QRect bounds = content->rect();
        std::vector<QWidget*> controls;
        for (QWidget* w : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(bounds.adjusted(12, 12, -12, -12).contains(w->geometry()))
                << w->objectName().toStdString();
            for (QWidget* other : controls)
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << w->objectName().toStdString() << " " << other->objectName().toStdString();
            controls.push_back(w);
            const auto* button = qobject_cast<glimra::NSButton*>(w);
            if ((button && !button->title().isEmpty()) || qobject_cast<QLabel*>(w)) {
                EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
            }
        }
        EXPECT_EQ(panel.captureButton()->geometry().right(), bounds.right() - 12);
        EXPECT_EQ(panel.captureButton()->title(),
                  language == QStringLiteral("de") ? QStringLiteral("Aufnehmen") : QStringLiteral("Capture"));
    }
    QCoreApplication::removeTranslator(&translator);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

INSTANTIATE_TEST_SUITE_P(ResizePanel, Layout, ::testing::Values("en", "de"));

} // namespace
