#pragma once
// What the localization containers share: the margins between their visible content and their
// edges, measured once laid out (awakeFromNib), and whether they may grow or shrink on each axis.

#include "NSView.h"

#include <QWidget>

struct VLI18NPadding {
    double top = 0;
    double bottom = 0;
    double left = 0;
    double right = 0;
};

struct VLI18NResizeFlags {
    bool shrinkHorizontally = true;
    bool expandHorizontally = true;
    bool shrinkVertically = true;
    bool expandVertically = true;
};

// The margins around the union of view's visible subviews.
VLI18NPadding paddingFromSubviews(glimra::NSView& view);

class VLI18NBaseView : public QWidget {
    Q_OBJECT
public:
    explicit VLI18NBaseView(QWidget* parent = nullptr);

    // Once the view and its subviews are laid out: the view stops autoresizing its subviews (the
    // passes move them themselves) and measures its padding.
    void awakeFromNib();
    void initPaddingFromSubviews();

    double topPadding() const { return mTopPadding; }
    double bottomPadding() const { return mBottomPadding; }
    double leftPadding() const { return mLeftPadding; }
    double rightPadding() const { return mRightPadding; }
    void setTopPadding(double v) { mTopPadding = v; }
    void setBottomPadding(double v) { mBottomPadding = v; }
    void setLeftPadding(double v) { mLeftPadding = v; }
    void setRightPadding(double v) { mRightPadding = v; }
    bool shrinkHorizontally() const { return mShrinkHorizontally; }
    bool expandHorizontally() const { return mExpandHorizontally; }
    bool shrinkVertically() const { return mShrinkVertically; }
    bool expandVertically() const { return mExpandVertically; }
    void setShrinkHorizontally(bool v) { mShrinkHorizontally = v; }
    void setExpandHorizontally(bool v) { mExpandHorizontally = v; }
    void setShrinkVertically(bool v) { mShrinkVertically = v; }
    void setExpandVertically(bool v) { mExpandVertically = v; }

protected:
    VLI18NPadding padding() const { return {mTopPadding, mBottomPadding, mLeftPadding, mRightPadding}; }
    VLI18NResizeFlags resizeFlags() const {
        return {mShrinkHorizontally, mExpandHorizontally, mShrinkVertically, mExpandVertically};
    }

private:
    void initVLI18NBaseDefaultPropertyValues();

    double mTopPadding = 0;
    double mBottomPadding = 0;
    double mLeftPadding = 0;
    double mRightPadding = 0;
    bool mShrinkHorizontally = true;
    bool mExpandHorizontally = true;
    bool mShrinkVertically = true;
    bool mExpandVertically = true;
};
