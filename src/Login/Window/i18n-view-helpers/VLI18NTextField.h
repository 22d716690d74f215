#pragma once
// A text label that follows its localized text. A single-line label takes the width of its text
// (growing to the right); a wrapping label takes the height its text needs at its width, keeping its
// top edge. Either may be kept from shrinking.

#include "NSGeometry.h"
#include "VLI18NHelper.h"

#include <QLabel>

// The frame for text measuring measured (the width for single-line labels, the height for wrapping ones).
glimra::NSRect textFieldFrameForI18N(const glimra::NSRect& frame, bool wraps, glimra::NSSize measured,
                                     bool shrinkHorizontally, bool shrinkVertically);

class VLI18NTextField : public QLabel, public VLI18NAware {
    Q_OBJECT
public:
    explicit VLI18NTextField(QWidget* parent = nullptr);
    explicit VLI18NTextField(const QString& text, QWidget* parent = nullptr);

    void resizeForI18N() override;

    bool shrinkHorizontally() const { return mShrinkHorizontally; }
    bool shrinkVertically() const { return mShrinkVertically; }
    void setShrinkHorizontally(bool v) { mShrinkHorizontally = v; }
    void setShrinkVertically(bool v) { mShrinkVertically = v; }

private:
    void initDefaultPropertyValues();

    bool mShrinkHorizontally = true;
    bool mShrinkVertically = true;
};
