#include "VLI18NTextField.h"

#include "NSView.h"

#include <cmath>

glimra::NSRect textFieldFrameForI18N(const glimra::NSRect& frame, bool wraps, glimra::NSSize measured,
                                     bool shrinkHorizontally, bool shrinkVertically) {
    glimra::NSRect f = frame;
    if (!wraps) {
        const double width = std::ceil(measured.width);
        if (shrinkHorizontally || width > f.size.width)
            f.size.width = width;
        return f;
    }
    double height = std::ceil(measured.height);
    if (!shrinkVertically && f.size.height > height)
        height = f.size.height;
    f.origin.y -= height - f.size.height;
    f.size.height = height;
    return f;
}

VLI18NTextField::VLI18NTextField(QWidget* parent) : QLabel(parent) {
    initDefaultPropertyValues();
}

VLI18NTextField::VLI18NTextField(const QString& text, QWidget* parent) : QLabel(text, parent) {
    initDefaultPropertyValues();
}

void VLI18NTextField::initDefaultPropertyValues() {
    mShrinkVertically = true;
    mShrinkHorizontally = true;
}

void VLI18NTextField::resizeForI18N() {
    glimra::WidgetView view(this);
    const glimra::NSRect frame = view.frame();
    // Wrapping labels are measured at their width, single-line ones on one unbounded line.
    const glimra::NSSize measured =
        wordWrap() ? glimra::NSSize{frame.size.width, double(heightForWidth(int(frame.size.width)))}
                   : glimra::NSSize{double(sizeHint().width()), frame.size.height};
    view.setFrame(textFieldFrameForI18N(frame, wordWrap(), measured, mShrinkHorizontally, mShrinkVertically));
}
