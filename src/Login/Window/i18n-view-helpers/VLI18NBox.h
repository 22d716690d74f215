#pragma once
// A titled box that follows its content: after its content is re-fitted, it keeps the margins it had
// around the union of its visible content, and its top edge. A box whose content union did not
// change keeps its frame exactly.

#include "VLI18NHelper.h"

#include <QGroupBox>

// The pass over any box: contentView holds the box's content (it may be the box itself).
void resizeBoxForI18N(glimra::NSView& box, glimra::NSView& contentView);

class VLI18NBox : public QGroupBox, public VLI18NAware {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
    void resizeForI18N() override;
};
