#pragma once
// The small dark panel beside a finished crosshair selection: the selection's width and height in
// two fields to type over or step, an aspect-ratio lock, and the four ways to end the capture
// (Capture, Timer, Fullscreen, Cancel). The panel knows nothing of the overlay or the session: it
// tells its delegate every decision and every size change, and asks it for the locked ratio. Hiding
// the panel and letting go of it are the delegate's business.
//
// Its window is a DarkPanel laid out by the form ImageCaptureCrosshairResizeWindowController.ui,
// loaded with the controller (hidden) and re-fitted to the user's language.
//
// Keyboard: typing goes to the width field when the panel is made key. Return commits the field
// being edited and captures; Escape cancels; Tab moves between the two fields, committing the one
// left; Up and Down step the field's size by one pixel. A field's edit is committed as
// setCaptureWidth/setCaptureHeight with its text, when the text reads as a number: other text is
// refused, and the field shows its last size again (letters no number holds are not even taken).
//
// The size shown lives in the fields: crosshairSize() reads them back, as whole numbers, every time.
// Main thread only.

#include "CGGeometry.h"
#include "ImageCaptureCrosshairResizeProtocol.h"
#include "NSNumberFormatter.h"

#include <QObject>
#include <QString>

#include <memory>

class DarkPanel;
class QLineEdit;
class QValidator;
class VLI18NContentView;
class VLI18NTextField;
namespace glimra {
class NSButton;
}
namespace Ui {
class ImageCaptureCrosshairResizeWindowController;
}

class ImageCaptureCrosshairResizeWindowController : public QObject {
    Q_OBJECT
public:
    // Loads the window (hidden, at the bottom-left of the main screen) and fits it to the strings.
    ImageCaptureCrosshairResizeWindowController();
    // The window goes with the controller; it is deleted once the event loop comes round, so the
    // controller may be released from inside one of its own actions.
    ~ImageCaptureCrosshairResizeWindowController() override;
    ImageCaptureCrosshairResizeWindowController(const ImageCaptureCrosshairResizeWindowController&) = delete;
    ImageCaptureCrosshairResizeWindowController&
    operator=(const ImageCaptureCrosshairResizeWindowController&) = delete;

    DarkPanel* window() const { return window_.get(); }

    // Held weakly; nullptr once the delegate is gone.
    ImageCaptureCrosshairResizeProtocol* delegate() const;
    void setDelegate(ImageCaptureCrosshairResizeProtocol* delegate);

    // The fields' numbers (0 for a field that holds no number).
    CGSize crosshairSize() const;
    // Shows size and tells the delegate, unless it is the size shown last (that ends the round trip
    // of a size the delegate pushes back). A size that is no number is refused with a log line.
    void setCrosshairSize(CGSize size);
    CGSize maxCrosshairSize() const { return _maxCrosshairSize; }
    // Typed and stepped sizes are held to it; no bound until it is set.
    void setMaxCrosshairSize(CGSize size) { _maxCrosshairSize = size; }

    QString captureWidth() const;
    // text as typed: its number's whole part, between 1 and the maximum width (1 for no number); with
    // the ratio locked the height follows, rounded down and not held to any bound.
    void setCaptureWidth(const QString& text);
    QString captureHeight() const;
    void setCaptureHeight(const QString& text);

    // One-pixel steps, through setCaptureWidth/setCaptureHeight; a decrement stops at 1.
    void incrementWidth();
    void decrementWidth();
    void incrementHeight();
    void decrementHeight();

    bool isRatioLocked() const { return _isRatioLocked; }
    // Flips the lock and tells the delegate the new state with the ratio the fields show now.
    void toggleLockRatio();
    void updateLockedRatioButtonImages();

    // The ending actions: each tells the delegate once. The three accepting ones put the arrow
    // cursor back 0.2 s later (the helper's windows may be gone by then; it happens all the same);
    // Timer and Fullscreen commit the field being edited first.
    void cancelCapture();
    void acceptCapture();
    void timedCapture();
    void fullscreenCapture();

    glimra::NSButton* captureButton() const;
    // The Capture button's frame in the window's coordinates (points, y up, origin at the window's
    // bottom-left corner): its centre goes under the pointer.
    CGRect captureButtonFrame() const;
    VLI18NTextField* widthLabel() const;
    VLI18NTextField* heightLabel() const;
    QLineEdit* widthField() const;
    QLineEdit* heightField() const;
    glimra::NSButton* lockRatioButton() const;
    glimra::NSButton* cancelButton() const;
    glimra::NSButton* timerButton() const;
    glimra::NSButton* fullscreenButton() const;

    // Reads and writes the fields: decimal, in the user's language, lenient, no grouping, minimum 1.
    const glimra::NSNumberFormatter& numberFormatter() const { return _numberFormatter; }
    void setNumberFormatter(const glimra::NSNumberFormatter& formatter) { _numberFormatter = formatter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct WindowDeleter {
        void operator()(DarkPanel* window) const;
    };

    void loadWindow();
    void windowDidLoad();
    // Labels and buttons take their translated texts' widths, keeping their rows' gaps; the window
    // follows; the size row is centred and Cancel and Capture stay at the right edge.
    void fitToLocalizedStrings();
    // The field being edited, committed when the user changed it.
    void endEditing();
    void commitEditing(QLineEdit* field);
    double currentWidthToHeightRatio();
    template <typename Message> void tellDelegate(Message&& message);

    bool _isRatioLocked = false;
    CGSize _crosshairSize;
    std::weak_ptr<ImageCaptureCrosshairResizeProtocol*> _delegate;
    glimra::NSNumberFormatter _numberFormatter;
    CGSize _maxCrosshairSize;
    std::unique_ptr<QValidator> fieldValidator_; // reads with _numberFormatter; the fields let go of it
    std::unique_ptr<Ui::ImageCaptureCrosshairResizeWindowController> ui_;
    std::unique_ptr<DarkPanel, WindowDeleter> window_;
    VLI18NContentView* contentView_ = nullptr; // the form's top level, in the window's content view
};
