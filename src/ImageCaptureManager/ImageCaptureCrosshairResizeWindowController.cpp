#include "ImageCaptureCrosshairResizeWindowController.h"

#include "Bundle.h"
#include "DarkPanel.h"
#include "GlimraThreePartImageButtonCell.h"
#include "Log.h"
#include "NSButtonAdditions.h"
#include "NSView+VellmoraAdditions.h"
#include "VLI18NButton.h"
#include "VLI18NContentView.h"
#include "VLI18NTextField.h"
#include "cursor/NSCursor.h"
#include "ui_ImageCaptureCrosshairResizeWindowController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QValidator>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <deque>
#include <vector>

using glimra::NSButton;
using glimra::NSImage;
using glimra::WidgetView;

namespace {

QString localized(const char* key) {
    return glimra::Bundle::mainBundle().localizedString(key);
}

// The whole part of a number read from a field (NSNumber's integerValue): 0 for no number, and never
// beyond what a 64-bit integer holds.
double integerValue(std::optional<double> number) {
    constexpr double kLimit = 9.2e18;
    return number ? std::trunc(std::clamp(*number, -kLimit, kLimit)) : 0.0;
}

// A whole number of pixels as NSNumber's stringValue writes it: plain digits, no grouping.
QString stringValue(double number) {
    return QString::number(number, 'g', 17);
}

// The side that follows a locked ratio: the product in single precision, rounded down. Where the
// product is no number a float holds (a ratio of 0, or of an empty field), the side keeps its value.
double derivedSide(double product, double current) {
    if (!std::isfinite(product) || std::abs(product) > double(FLT_MAX))
        return current;
    return double(std::floor(float(product)));
}

// The arrow back once whatever the ending action started has settled; it needs nothing of the panel.
void scheduleCursorReset() {
    QTimer::singleShot(200, qApp, [] { glimra::NSCursor::arrowCursor().set(); });
}

// Controls side by side, left to right, with the gaps they were laid out with.
class LayoutRow {
public:
    LayoutRow(std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets) {
            adapters_.emplace_back(widget);
            views_.push_back(&adapters_.back());
        }
        for (std::size_t i = 1; i < views_.size(); ++i)
            gaps_.push_back(NSMinX(views_[i]->frame()) - NSMaxX(views_[i - 1]->frame()));
    }
    const std::vector<glimra::NSView*>& views() const { return views_; }
    double left() const { return NSMinX(views_.front()->frame()); }
    double right() const { return NSMaxX(views_.back()->frame()); }
    double width() const { return right() - left(); }
    // Each control again at its gap from the one before, whatever their widths are now.
    void closeUp() {
        for (std::size_t i = 1; i < views_.size(); ++i)
            placeAdjacentToView(*views_[i], *views_[i - 1], glimra::NSMaxXEdge, gaps_[i - 1]);
    }

private:
    std::deque<WidgetView> adapters_;
    std::vector<glimra::NSView*> views_;
    std::vector<double> gaps_;
};

// What the size fields take: text that reads as a number of any size (the controller holds it to its
// bounds). Text on its way to one is let through while typing and refused when committed; a letter
// that no number holds is not taken at all.
class NumberFieldValidator final : public QValidator {
public:
    explicit NumberFieldValidator(const glimra::NSNumberFormatter& formatter) : formatter_(formatter) {}

    State validate(QString& input, int& /*position*/) const override {
        glimra::NSNumberFormatter anySize = formatter_;
        anySize.setMinimum(std::nullopt);
        if (anySize.numberFromString(input))
            return Acceptable;
        const bool holdsNoNumber = std::any_of(input.cbegin(), input.cend(), [](QChar c) {
            return c.isLetter() && c.toLower() != u'e'; // e: an exponent, 1e3
        });
        return holdsNoNumber ? Invalid : Intermediate;
    }

private:
    const glimra::NSNumberFormatter& formatter_;
};

bool isReturn(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

void ImageCaptureCrosshairResizeWindowController::WindowDeleter::operator()(DarkPanel* window) const {
    window->hide();
    window->deleteLater();
}

ImageCaptureCrosshairResizeWindowController::ImageCaptureCrosshairResizeWindowController()
    : _maxCrosshairSize{DBL_MAX, DBL_MAX},
      fieldValidator_(std::make_unique<NumberFieldValidator>(_numberFormatter)),
      ui_(std::make_unique<Ui::ImageCaptureCrosshairResizeWindowController>()) {
    _numberFormatter.setLocalizesFormat(true);
    _numberFormatter.setLenient(true);
    _numberFormatter.setUsesGroupingSeparator(false);
    _numberFormatter.setMinimum(1);
    loadWindow();
    windowDidLoad();
}

ImageCaptureCrosshairResizeWindowController::~ImageCaptureCrosshairResizeWindowController() = default;

void ImageCaptureCrosshairResizeWindowController::loadWindow() {
    window_.reset(new DarkPanel(glimra::NSZeroRect, NSBorderlessWindowMask));
    contentView_ = new VLI18NContentView(window_->contentView());
    ui_->setupUi(contentView_);
    window_->resize(contentView_->size());

    // The form's push buttons draw their bezels from artwork.
    for (VLI18NButton* button :
         {ui_->timerButton, ui_->fullscreenButton, ui_->cancelButton, ui_->captureButton}) {
        button->setCell(std::make_unique<GlimraThreePartImageButtonCell>());
        button->awakeFromNib();
    }
    contentView_->awakeFromNib();

    // Each control of the form names the action it sends.
    using Action = void (ImageCaptureCrosshairResizeWindowController::*)();
    const std::pair<QByteArray, Action> actions[] = {
        {"toggleLockRatio:", &ImageCaptureCrosshairResizeWindowController::toggleLockRatio},
        {"timedCapture:", &ImageCaptureCrosshairResizeWindowController::timedCapture},
        {"fullscreenCapture:", &ImageCaptureCrosshairResizeWindowController::fullscreenCapture},
        {"cancelCapture:", &ImageCaptureCrosshairResizeWindowController::cancelCapture},
        {"acceptCapture:", &ImageCaptureCrosshairResizeWindowController::acceptCapture},
    };
    for (NSButton* button : contentView_->findChildren<NSButton*>()) {
        const QByteArray selector = button->property(glimra::kActionProperty).toByteArray();
        for (const auto& [name, action] : actions)
            if (name == selector)
                connect(button, &QAbstractButton::clicked, this, action);
    }

    window_->installEventFilter(this);
    for (QLineEdit* field : {ui_->widthField, ui_->heightField}) {
        field->setValidator(fieldValidator_.get());
        field->installEventFilter(this);
    }
    window_->setInitialFirstResponder(ui_->widthField);
}

void ImageCaptureCrosshairResizeWindowController::windowDidLoad() {
    updateLockedRatioButtonImages();
    ui_->widthLabel->setText(localized(QT_TRANSLATE_NOOP("Localizable", "Width")));
    ui_->heightLabel->setText(localized(QT_TRANSLATE_NOOP("Localizable", "Height")));
    ui_->lockRatioButton->setToolTip(localized(QT_TRANSLATE_NOOP("Localizable", "Lock Aspect Ratio")));
    // The title goes first: setTextColor rebuilds the styled title from it.
    const auto skin = [](NSButton* button, const char* key, void (*cellImages)(NSButton&)) {
        button->setTitle(localized(key));
        cellImages(*button);
        setTextColor(*button, Qt::white);
    };
    skin(ui_->cancelButton, QT_TRANSLATE_NOOP("Localizable", "Cancel"), setCellImagesForGrayButton);
    skin(ui_->captureButton, QT_TRANSLATE_NOOP("Localizable", "Capture"), setCellImagesForBlueButton);
    skin(ui_->timerButton, QT_TRANSLATE_NOOP("Localizable", "Timer"), setCellImagesForGrayButton);
    skin(ui_->fullscreenButton, QT_TRANSLATE_NOOP("Localizable", "Fullscreen"), setCellImagesForGrayButton);
    fitToLocalizedStrings();
}

void ImageCaptureCrosshairResizeWindowController::fitToLocalizedStrings() {
    LayoutRow sizeRow{ui_->widthLabel, ui_->widthBackground, ui_->lockRatioButton, ui_->heightLabel,
                      ui_->heightBackground};
    LayoutRow buttonRow{ui_->timerButton, ui_->fullscreenButton, ui_->cancelButton, ui_->captureButton};
    WidgetView content(contentView_);
    VLI18NHelper::resizeViewsForI18N(content.subviews());
    sizeRow.closeUp();
    buttonRow.closeUp();
    glimra::WidgetWindow window(window_.get(), contentView_);
    resizeForI18N(window);

    // The wider row sets the width: the size row is centred in it, Cancel and Capture keep to its
    // right edge with the margin Timer keeps to the left one.
    const double width = content.frame().size.width;
    offsetViews(sizeRow.views(), std::size_t(-1),
                {std::floor((width - sizeRow.width()) / 2 - sizeRow.left()), 0});
    offsetViews(buttonRow.views(), 1, {width - buttonRow.left() - buttonRow.right(), 0});
}

ImageCaptureCrosshairResizeProtocol* ImageCaptureCrosshairResizeWindowController::delegate() const {
    const auto anchor = _delegate.lock();
    return anchor ? *anchor : nullptr;
}

void ImageCaptureCrosshairResizeWindowController::setDelegate(ImageCaptureCrosshairResizeProtocol* delegate) {
    _delegate = delegate ? std::weak_ptr(delegate->weakAnchor_)
                         : std::weak_ptr<ImageCaptureCrosshairResizeProtocol*>();
}

template <typename Message>
void ImageCaptureCrosshairResizeWindowController::tellDelegate(Message&& message) {
    // The delegate may let go of the panel while it handles the message: nothing of the controller
    // is touched after it.
    if (const auto anchor = _delegate.lock())
        message(**anchor);
}

CGSize ImageCaptureCrosshairResizeWindowController::crosshairSize() const {
    return {integerValue(_numberFormatter.numberFromString(ui_->widthField->text())),
            integerValue(_numberFormatter.numberFromString(ui_->heightField->text()))};
}

void ImageCaptureCrosshairResizeWindowController::setCrosshairSize(CGSize size) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height)) {
        NSLog("The resize panel ignores the size %@ x %@", size.width, size.height);
        return;
    }
    if (NSEqualSizes(size, _crosshairSize))
        return;
    _crosshairSize = size;
    for (auto [field, number] :
         {std::pair(ui_->widthField, size.width), std::pair(ui_->heightField, size.height)}) {
        // A number selected to be typed over stays so when the selection changes it.
        const bool selected = field->hasSelectedText() && field->selectedText() == field->text();
        field->setText(_numberFormatter.stringFromNumber(number));
        if (selected)
            field->selectAll();
    }
    tellDelegate([this, size](auto& d) { d.crosshairResizeControllerDidChangeCaptureSize(this, size); });
}

QString ImageCaptureCrosshairResizeWindowController::captureWidth() const {
    return stringValue(crosshairSize().width);
}

QString ImageCaptureCrosshairResizeWindowController::captureHeight() const {
    return stringValue(crosshairSize().height);
}

double ImageCaptureCrosshairResizeWindowController::currentWidthToHeightRatio() {
    double ratio = 0;
    tellDelegate(
        [this, &ratio](auto& d) { ratio = d.crosshairResizeControllerCurrentWidthToHeightRatio(this); });
    return ratio;
}

void ImageCaptureCrosshairResizeWindowController::setCaptureWidth(const QString& text) {
    const double typed = integerValue(_numberFormatter.numberFromString(text));
    const double width = std::max(1.0, std::min(typed, _maxCrosshairSize.width));
    double height = crosshairSize().height;
    if (_isRatioLocked)
        height = derivedSide(currentWidthToHeightRatio() * width, height);
    setCrosshairSize({width, height});
}

void ImageCaptureCrosshairResizeWindowController::setCaptureHeight(const QString& text) {
    const double typed = integerValue(_numberFormatter.numberFromString(text));
    const double height = std::max(1.0, std::min(typed, _maxCrosshairSize.height));
    double width = crosshairSize().width;
    if (_isRatioLocked)
        width = derivedSide((1.0 / currentWidthToHeightRatio()) * height, width);
    setCrosshairSize({width, height});
}

void ImageCaptureCrosshairResizeWindowController::incrementWidth() {
    setCaptureWidth(stringValue(crosshairSize().width + 1));
}

void ImageCaptureCrosshairResizeWindowController::decrementWidth() {
    setCaptureWidth(stringValue(std::max(crosshairSize().width - 1, 1.0)));
}

void ImageCaptureCrosshairResizeWindowController::incrementHeight() {
    setCaptureHeight(stringValue(crosshairSize().height + 1));
}

void ImageCaptureCrosshairResizeWindowController::decrementHeight() {
    setCaptureHeight(stringValue(std::max(crosshairSize().height - 1, 1.0)));
}

void ImageCaptureCrosshairResizeWindowController::toggleLockRatio() {
    _isRatioLocked = !_isRatioLocked;
    // A field emptied while editing has no ratio to give: the size shown last stands in for it.
    CGSize size = crosshairSize();
    if (!(size.width > 0 && size.height > 0))
        size = _crosshairSize;
    const double ratio = size.width > 0 ? size.height / size.width : 0.0;
    tellDelegate([this, ratio](auto& d) {
        d.crosshairResizeControllerDidChangeResizeRatioLock(this, _isRatioLocked, ratio);
    });
    updateLockedRatioButtonImages();
}

void ImageCaptureCrosshairResizeWindowController::updateLockedRatioButtonImages() {
    NSButton* button = ui_->lockRatioButton;
    if (_isRatioLocked) {
        button->setImage(NSImage::imageNamed(QStringLiteral("proportion_link_active")));
        button->setAlternateImage(NSImage::imageNamed(QStringLiteral("proportion_link_active_pressed")));
    } else {
        button->setImage(NSImage::imageNamed(QStringLiteral("proportion_link")));
        button->setAlternateImage(NSImage::imageNamed(QStringLiteral("proportion_link_pressed")));
    }
}

void ImageCaptureCrosshairResizeWindowController::cancelCapture() {
    tellDelegate([this](auto& d) { d.crosshairResizeControllerDidCancel(this); });
}

void ImageCaptureCrosshairResizeWindowController::acceptCapture() {
    tellDelegate([this](auto& d) { d.crosshairResizeControllerDidAcceptCapture(this); });
    scheduleCursorReset();
}

void ImageCaptureCrosshairResizeWindowController::timedCapture() {
    endEditing();
    tellDelegate([this](auto& d) { d.crosshairResizeControllerDidAcceptTimedCapture(this); });
    scheduleCursorReset();
}

void ImageCaptureCrosshairResizeWindowController::fullscreenCapture() {
    endEditing();
    tellDelegate([this](auto& d) { d.crosshairResizeControllerDidAcceptFullscreenCapture(this); });
    scheduleCursorReset();
}

void ImageCaptureCrosshairResizeWindowController::endEditing() {
    for (QLineEdit* field : {ui_->widthField, ui_->heightField})
        if (window_->focusWidget() == field)
            commitEditing(field);
}

void ImageCaptureCrosshairResizeWindowController::commitEditing(QLineEdit* field) {
    if (!field->isModified())
        return;
    field->setModified(false);
    const bool isWidth = field == ui_->widthField;
    // Text that reads as no number is refused: the field shows its last size again.
    if (!field->hasAcceptableInput()) {
        field->setText(
            _numberFormatter.stringFromNumber(isWidth ? _crosshairSize.width : _crosshairSize.height));
        return;
    }
    isWidth ? setCaptureWidth(field->text()) : setCaptureHeight(field->text());
}

bool ImageCaptureCrosshairResizeWindowController::eventFilter(QObject* watched, QEvent* event) {
    QLineEdit* field = watched == ui_->widthField    ? ui_->widthField
                       : watched == ui_->heightField ? ui_->heightField
                                                     : nullptr;
    // Leaving a field commits it; the panel going away does not.
    if (event->type() == QEvent::FocusOut && field && window_->isVisible())
        commitEditing(field);
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (isReturn(key->key()) || key->key() == Qt::Key_Escape) {
        if (key->isAutoRepeat())
            return true;
        if (key->key() == Qt::Key_Escape) {
            cancelCapture();
        } else {
            endEditing();
            acceptCapture();
        }
        // The controller may be gone now.
        return true;
    }
    if (field && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
        const bool up = key->key() == Qt::Key_Up;
        if (field == ui_->widthField)
            up ? incrementWidth() : decrementWidth();
        else
            up ? incrementHeight() : decrementHeight();
        return true;
    }
    return false;
}

NSButton* ImageCaptureCrosshairResizeWindowController::captureButton() const {
    return ui_->captureButton;
}

CGRect ImageCaptureCrosshairResizeWindowController::captureButtonFrame() const {
    // The content view fills the window, so its coordinates are the window's.
    return WidgetView(ui_->captureButton).frame();
}

VLI18NTextField* ImageCaptureCrosshairResizeWindowController::widthLabel() const {
    return ui_->widthLabel;
}
VLI18NTextField* ImageCaptureCrosshairResizeWindowController::heightLabel() const {
    return ui_->heightLabel;
}
QLineEdit* ImageCaptureCrosshairResizeWindowController::widthField() const {
    return ui_->widthField;
}
QLineEdit* ImageCaptureCrosshairResizeWindowController::heightField() const {
    return ui_->heightField;
}
NSButton* ImageCaptureCrosshairResizeWindowController::lockRatioButton() const {
    return ui_->lockRatioButton;
}
NSButton* ImageCaptureCrosshairResizeWindowController::cancelButton() const {
    return ui_->cancelButton;
}
NSButton* ImageCaptureCrosshairResizeWindowController::timerButton() const {
    return ui_->timerButton;
}
NSButton* ImageCaptureCrosshairResizeWindowController::fullscreenButton() const {
    return ui_->fullscreenButton;
}
