#pragma once
// A window's content that the window follows: after its subviews are re-fitted the window takes the
// size the content needs with the content view's padding around it, keeping its top edge, and the
// subviews keep their distance from the top. Hidden subviews count in the needed size.

#include "VLI18NBaseView.h"
#include "VLI18NHelper.h"

void resizeContentViewForI18N(glimra::NSView& view, const VLI18NPadding& padding, glimra::NSWindow& window);

class VLI18NContentView : public VLI18NBaseView, public VLI18NAware {
    Q_OBJECT
public:
    using VLI18NBaseView::VLI18NBaseView;
    void resizeForI18N() override;
};
