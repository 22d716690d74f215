#pragma once
// A container inside a window that follows its content where its flags allow: its width to the
// content's right edge, its height to the content plus the top padding, keeping its top edge and
// the content's distance from it.

#include "VLI18NBaseView.h"
#include "VLI18NHelper.h"

void resizeFlexibleViewForI18N(glimra::NSView& view, const VLI18NPadding& padding,
                               const VLI18NResizeFlags& flags);

class VLI18NFlexibleView : public VLI18NBaseView, public VLI18NAware {
    Q_OBJECT
public:
    using VLI18NBaseView::VLI18NBaseView;
    void resizeForI18N() override;
};
