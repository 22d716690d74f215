#pragma once
// Frame arithmetic for layout code, on any view: growing and moving a frame with one edge held,
// the union of subviews' frames, shifting a run of siblings, centring, placing a view beside another,
// and depth-first search of a view tree. Frames are y up: "top" is the greatest y.

#include "NSView.h"

#include <QByteArray>

#include <functional>
#include <vector>

// The first view of views that is not hidden, its position stored through index when index is not
// null; nullptr (index untouched) when there is none.
glimra::NSView* firstVisibleViewIn(const std::vector<glimra::NSView*>& views, size_t* index);

// The tight bounding box of the subviews' frames, hidden ones included when ignoreHidden is true;
// NSZeroRect when none counts.
glimra::NSRect subviewUnionRectIgnoringHidden(glimra::NSView& view, bool ignoreHidden);

// Moves every view after position index by offset. The index is unsigned: size_t(-1) moves them all.
void offsetViews(const std::vector<glimra::NSView*>& views, size_t afterIndex, glimra::NSSize byOffset);

// Grows the frame; the bottom edge stays, or the top edge with NSMaxYEdge.
void makeFrameTaller(glimra::NSView& view, double delta, glimra::NSRectEdge fixingEdge = glimra::NSMinYEdge);
// Grows the frame; the left edge stays, or the right edge with NSMaxXEdge.
void makeFrameWider(glimra::NSView& view, double delta, glimra::NSRectEdge fixingEdge = glimra::NSMinXEdge);
void moveFrameDown(glimra::NSView& view, double delta);
void moveFrameRight(glimra::NSView& view, double delta);
void moveFrameLeft(glimra::NSView& view, double delta);

// The first view in pre-order (the view itself, then each subview's tree in order) that passes test.
glimra::NSView* viewPassingTest(glimra::NSView& view, const std::function<bool(glimra::NSView&)>& test);
// The first control in pre-order whose action is selector.
glimra::NSView* viewWithAction(glimra::NSView& view, const QByteArray& selector);

// Centres the view in its superview's frame size, on whole device pixels; nothing without a superview.
void centerInSuperviewHorizontally(glimra::NSView& view, bool horizontally, bool vertically);
void centerInSuperview(glimra::NSView& view);

// Moves the view beside other, margin apart, on the side edge names; only the origin changes.
void placeAdjacentToView(glimra::NSView& view, glimra::NSView& other, glimra::NSRectEdge edge,
                         double margin = 0);

// Centres a view narrower than its superview's bounds horizontally, on whole points.
void workaroundForLayoutBug(glimra::NSView& view);
