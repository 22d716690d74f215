#pragma once
// A button cell whose bezel is drawn from artwork: a start cap, a stretched centre and an end cap
// (left to right, or top to bottom when vertical), with a second set for the pressed look. A pressed
// part without an image of its own shows its normal image. The enabled state is not consulted: a
// disabled look is a skin of its own.
//
// The skins load fixed sets of named images into a button's cell; the button must already have a
// GlimraThreePartImageButtonCell (a skin never installs one). Skins without pressed images leave the
// pressed images the cell has.

#include "NSButton.h"
#include "NSImage.h"

#include <memory>

using NSImagePointer = std::shared_ptr<glimra::NSImage>;

class GlimraThreePartImageButtonCell : public glimra::NSButtonCell {
public:
    void drawBezelWithFrame(QPainter& painter, const QRectF& frame, glimra::NSButton* controlView) override;
    // The title with room for the caps beside it, at least as tall as the artwork.
    QSizeF cellSizeForBounds(const QRectF& bounds) const override;

    const NSImagePointer& startCap() const { return _startCap; }
    const NSImagePointer& centerFill() const { return _centerFill; }
    const NSImagePointer& endCap() const { return _endCap; }
    const NSImagePointer& startCapHighlighted() const { return _startCapHighlighted; }
    const NSImagePointer& centerFillHighlighted() const { return _centerFillHighlighted; }
    const NSImagePointer& endCapHighlighted() const { return _endCapHighlighted; }
    bool vertical() const { return _vertical; }

    // Each setter asks the button to redraw only when the value changes (images by identity).
    void setStartCap(NSImagePointer image);
    void setCenterFill(NSImagePointer image);
    void setEndCap(NSImagePointer image);
    void setStartCapHighlighted(NSImagePointer image);
    void setCenterFillHighlighted(NSImagePointer image);
    void setEndCapHighlighted(NSImagePointer image);
    void setVertical(bool vertical);

private:
    void replace(NSImagePointer& slot, NSImagePointer image);
    void setNeedsDisplay();

    NSImagePointer _startCap;
    NSImagePointer _centerFill;
    NSImagePointer _endCap;
    NSImagePointer _startCapHighlighted;
    NSImagePointer _centerFillHighlighted;
    NSImagePointer _endCapHighlighted;
    bool _vertical = false;
};

// The skins (all horizontal). Each logs and does nothing when button's cell is of another class.
void setCellImagesForBigGreenButton(glimra::NSButton& button);
void setCellImagesForBlueButton(glimra::NSButton& button);
void setCellImagesForDisabledButton(glimra::NSButton& button);
void setCellImagesForGrayButton(glimra::NSButton& button);
void setCellImagesForGreenButton(glimra::NSButton& button);
void setCellImagesForPinkButton(glimra::NSButton& button);
void setCellImagesForSmallBlueButton(glimra::NSButton& button);
void setCellImagesForSmallDisabledButton(glimra::NSButton& button);
void setCellImagesForSmallGrayButton(glimra::NSButton& button);
void setCellImagesForScreenSnapButton(glimra::NSButton& button);
void setCellImagesForSelectedVellmoraLibraryButton(glimra::NSButton& button);
void setCellImagesForDeselectedVellmoraLibraryButton(glimra::NSButton& button);
void setCellImagesForCanvasLoginSheetButton(glimra::NSButton& button);
void setCellImagesForGray42Button(glimra::NSButton& button);
void setCellImagesForBrightPinkButton(glimra::NSButton& button);
