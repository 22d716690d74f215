#include "GlimraThreePartImageButtonCell.h"

#include "Log.h"
#include "NSDrawing.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

using glimra::NSButton;
using glimra::NSImage;

void GlimraThreePartImageButtonCell::drawBezelWithFrame(QPainter& painter, const QRectF& frame,
                                                        NSButton* controlView) {
    const NSImage* start = _startCap.get();
    const NSImage* centre = _centerFill.get();
    const NSImage* end = _endCap.get();
    if (isHighlighted()) {
        if (_startCapHighlighted)
            start = _startCapHighlighted.get();
        if (_centerFillHighlighted)
            centre = _centerFillHighlighted.get();
        if (_endCapHighlighted)
            end = _endCapHighlighted.get();
    }
    glimra::NSDrawThreePartImage(painter, frame, start, centre, end, _vertical,
                                 QPainter::CompositionMode_SourceOver, 1.0,
                                 controlView && controlView->isFlipped());
}

QSizeF GlimraThreePartImageButtonCell::cellSizeForBounds(const QRectF& bounds) const {
    // Space between the caps and the title, so it never runs into their rounded ends.
    constexpr double kTitleMargin = 8;
    const QSizeF standard = NSButtonCell::cellSizeForBounds(bounds);
    const NSButton* view = controlView();
    if (!view)
        return standard;
    const double title = QFontMetricsF(view->font()).horizontalAdvance(view->title());
    const auto width = [](const NSImagePointer& image) { return image ? image->size().width() : 0.0; };
    const auto height = [](const NSImagePointer& image) { return image ? image->size().height() : 0.0; };
    return {std::ceil(title + width(_startCap) + width(_endCap) + 2 * kTitleMargin),
            std::max({standard.height(), height(_startCap), height(_centerFill), height(_endCap)})};
}

void GlimraThreePartImageButtonCell::setNeedsDisplay() {
    if (NSButton* view = controlView())
        view->update();
}

void GlimraThreePartImageButtonCell::replace(NSImagePointer& slot, NSImagePointer image) {
    if (slot == image)
        return;
    slot = std::move(image);
    setNeedsDisplay();
}

void GlimraThreePartImageButtonCell::setStartCap(NSImagePointer image) {
    replace(_startCap, std::move(image));
}
void GlimraThreePartImageButtonCell::setCenterFill(NSImagePointer image) {
    replace(_centerFill, std::move(image));
}
void GlimraThreePartImageButtonCell::setEndCap(NSImagePointer image) {
    replace(_endCap, std::move(image));
}
void GlimraThreePartImageButtonCell::setStartCapHighlighted(NSImagePointer image) {
    replace(_startCapHighlighted, std::move(image));
}
void GlimraThreePartImageButtonCell::setCenterFillHighlighted(NSImagePointer image) {
    replace(_centerFillHighlighted, std::move(image));
}
void GlimraThreePartImageButtonCell::setEndCapHighlighted(NSImagePointer image) {
    replace(_endCapHighlighted, std::move(image));
}

void GlimraThreePartImageButtonCell::setVertical(bool vertical) {
    if (_vertical == vertical)
        return;
    _vertical = vertical;
    setNeedsDisplay();
}

namespace {

// Image names of a skin: start, centre, end, then the pressed three (none for skins without them).
struct Skin {
    const char* parts[3];
    const char* pressed[3];
};

void applySkin(NSButton& button, const Skin& skin) {
    auto* cell = dynamic_cast<GlimraThreePartImageButtonCell*>(button.cell());
    if (!cell) {
        NSLog("Cannot skin the button \"%@\": its cell does not draw three-part images", button.title());
        return;
    }
    const auto image = [](const char* name) { return NSImage::imageNamed(QString::fromLatin1(name)); };
    cell->setVertical(false);
    cell->setStartCap(image(skin.parts[0]));
    cell->setCenterFill(image(skin.parts[1]));
    cell->setEndCap(image(skin.parts[2]));
    if (!skin.pressed[0])
        return;
    cell->setStartCapHighlighted(image(skin.pressed[0]));
    cell->setCenterFillHighlighted(image(skin.pressed[1]));
    cell->setEndCapHighlighted(image(skin.pressed[2]));
}

} // namespace

void setCellImagesForBigGreenButton(NSButton& button) {
    applySkin(button, {{"left_button_big_green", "middle_button_big_green", "right_button_big_green"},
                       {"left_button_big_green_pressed", "middle_button_big_green_pressed",
                        "right_button_big_green_pressed"}});
}
void setCellImagesForBlueButton(NSButton& button) {
    applySkin(button,
              {{"button_blue_left", "button_blue_middle", "button_blue_right"},
               {"button_blue_left_pressed", "button_blue_middle_pressed", "button_blue_right_pressed"}});
}
void setCellImagesForDisabledButton(NSButton& button) {
    applySkin(button, {{"button_disabled_left", "button_disabled_middle", "button_disabled_right"}, {}});
}
void setCellImagesForGrayButton(NSButton& button) {
    applySkin(button,
              {{"button_gray_left", "button_gray_middle", "button_gray_right"},
               {"button_gray_left_pressed", "button_gray_middle_pressed", "button_gray_right_pressed"}});
}
void setCellImagesForGreenButton(NSButton& button) {
    applySkin(button,
              {{"left_button_green", "middle_button_green", "right_button_green"},
               {"left_button_green_pressed", "middle_button_green_pressed", "right_button_green_pressed"}});
}
void setCellImagesForPinkButton(NSButton& button) {
    applySkin(button,
              {{"left_pink_button", "middle_pink_button", "right_pink_button"},
               {"left_pink_button_pressed", "middle_pink_button_pressed", "right_pink_button_pressed"}});
}
void setCellImagesForSmallBlueButton(NSButton& button) {
    applySkin(button, {{"button_blue_small_left", "button_blue_small_middle", "button_blue_small_right"},
                       {"button_blue_small_left_pressed", "button_blue_small_middle_pressed",
                        "button_blue_small_right_pressed"}});
}
void setCellImagesForSmallDisabledButton(NSButton& button) {
    applySkin(
        button,
        {{"button_small_disabled_left", "button_small_disabled_middle", "button_small_disabled_right"}, {}});
}
void setCellImagesForSmallGrayButton(NSButton& button) {
    applySkin(button, {{"button_small_gray_left", "button_small_gray_middle", "button_small_gray_right"},
                       {"button_small_gray_left_pressed", "button_small_gray_middle_pressed",
                        "button_small_gray_right_pressed"}});
}
void setCellImagesForScreenSnapButton(NSButton& button) {
    // No right-hand image: the end is the centre again, so the button's right end is square.
    applySkin(button, {{"screensnap_left", "screensnap_middle", "screensnap_middle"},
                       {"screensnap_active_left", "screensnap_active_middle", "screensnap_active_middle"}});
}
void setCellImagesForSelectedVellmoraLibraryButton(NSButton& button) {
    applySkin(button, {{"chrome_vr_active_left", "vellmora_button_shadow", "chrome_vr_active_right"}, {}});
}
void setCellImagesForDeselectedVellmoraLibraryButton(NSButton& button) {
    applySkin(button, {{"chrome_vr_left", "vellmora_button_clear", "chrome_vr_right"}, {}});
}
void setCellImagesForCanvasLoginSheetButton(NSButton& button) {
    applySkin(button, {{"green_btn_left", "green_btn_middle", "green_btn_right"},
                       {"green_btn_left_pressed", "green_btn_middle_pressed", "green_btn_right_pressed"}});
}
void setCellImagesForGray42Button(NSButton& button) {
    applySkin(button, {{"left_gray_42_button", "middle_gray_42_button", "right_gray_42_button"},
                       {"left_gray_42_button_pressed", "middle_gray_42_button_pressed",
                        "right_gray_42_button_pressed"}});
}
void setCellImagesForBrightPinkButton(NSButton& button) {
    applySkin(button, {{"left_brightpink_button", "middle_brightpink_button", "right_brightpink_button"},
                       {"left_brightpink_button_pressed", "middle_brightpink_button_pressed",
                        "right_brightpink_button_pressed"}});
}
