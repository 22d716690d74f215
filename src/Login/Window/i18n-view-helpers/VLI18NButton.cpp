#include "VLI18NButton.h"

#include <algorithm>
#include <cmath>

glimra::NSRect buttonFrameForI18N(const glimra::NSRect& frame, double minWidth, double measuredWidth,
                                  bool anchorRight) {
    glimra::NSRect f = frame;
    const double width = std::ceil(std::max(minWidth, measuredWidth));
    if (anchorRight && width != f.size.width)
        f.origin.x -= width - f.size.width;
    f.size.width = width;
    return f;
}

VLI18NButton::VLI18NButton(QWidget* parent) : glimra::NSButton(parent) {}

VLI18NButton::VLI18NButton(std::unique_ptr<glimra::NSButtonCell> cell, QWidget* parent)
    : glimra::NSButton(std::move(cell), parent) {}

void VLI18NButton::awakeFromNib() {
    mMinWidth = width();
}

void VLI18NButton::resizeForI18N() {
    glimra::WidgetView view(this);
    const glimra::NSRect frame = view.frame();
    const double measured = cell()
                                ? cell()->cellSizeForBounds(QRectF(0, 0, 10000.0, frame.size.height)).width()
                                : sizeHint().width();
    view.setFrame(buttonFrameForI18N(frame, mMinWidth, measured, mAnchorRight));
}
