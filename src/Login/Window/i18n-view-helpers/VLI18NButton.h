#pragma once
// A button that grows to its localized title and never becomes narrower than it was laid out. Its
// height stays; the left edge stays, or the right edge when anchored right.

#include "NSButton.h"
#include "VLI18NHelper.h"

// The frame for a title measuring measuredWidth: the width is at least minWidth, in whole points.
glimra::NSRect buttonFrameForI18N(const glimra::NSRect& frame, double minWidth, double measuredWidth,
                                  bool anchorRight);

class VLI18NButton : public glimra::NSButton, public VLI18NAware {
    Q_OBJECT
public:
    explicit VLI18NButton(QWidget* parent = nullptr);
    VLI18NButton(std::unique_ptr<glimra::NSButtonCell> cell, QWidget* parent = nullptr);

    // Once laid out: the current width becomes the least width.
    void awakeFromNib();
    void resizeForI18N() override;

    bool anchorRight() const { return mAnchorRight; }
    void setAnchorRight(bool anchorRight) { mAnchorRight = anchorRight; }

private:
    double mMinWidth = 0;
    bool mAnchorRight = false;
};
