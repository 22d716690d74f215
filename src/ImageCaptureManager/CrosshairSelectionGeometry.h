#pragma once
// The arithmetic of a crosshair selection, in the overlay view's coordinates: points, y up, origin at
// the bottom-left corner of the bounding box of all screens. "Top" is the larger y.

#include "CGGeometry.h"

#include <vector>

namespace crosshair {

// Which handle a refinement drag holds.
enum Corner : unsigned {
    kNoCorner = 0,
    kTopLeftCorner = 1,
    kTopRightCorner = 2,
    kBottomLeftCorner = 3,
    kBottomRightCorner = 4,
};

// Stored pointer positions are whole numbers: truncated toward zero to a 32-bit signed integer. Values
// beyond that range saturate and a non-finite one becomes 0, so no input is undefined.
double truncatedCoordinate(double value);
CGPoint truncatedPoint(CGPoint p);

// The rectangle two points span, whatever their order.
CGRect rectSpannedBy(CGPoint a, CGPoint b);
// The moving point of a new selection. The pointer cannot pass a screen's last column or row, so a
// point on the last column of a screen with no screen right of it stands for the screen's right edge,
// and one on its last row (in these y-up coordinates the row just above its bottom edge) with no
// screen below it for the bottom edge: a drag there takes that column or row in. screens are in the
// same coordinates; elsewhere the point is unchanged.
CGPoint pointReachingScreenEdges(CGPoint truncatedPointer, const std::vector<CGRect>& screens);
// Negative widths and heights turned positive, the origin moved so that the same area is covered.
CGRect sanitizedRect(CGRect r);
// Width and height raised to at least 1 each: a finished selection is never empty.
CGRect withMinimumSize(CGRect r);
// A finished selection this small is a click: the window under it is captured instead.
bool isWindowSnapSize(const CGRect& r);

CGPoint cornerPoint(const CGRect& r, Corner corner);

// A handle image `size` points wide: its square sits on a corner with the corner `center` points in
// from its bottom-left edges. center is floor(size / 2), computed in single precision.
struct HandleMetrics {
    double size = 0;
    double center = 0;
    static HandleMetrics forImageWidth(double width);
    CGRect square(CGPoint corner) const;
};

// The handle under p (untruncated), tried 1 to 4 so that where squares overlap the lower number
// wins; kNoCorner when p is on none. A square's minimum edges belong to it, its maximum edges not.
Corner handleAtPoint(CGPoint p, const CGRect& selection, const HandleMetrics& handles);

// One step of a corner drag, recomputed from the values at mouse-down so that no error accumulates.
struct CornerDrag {
    CGRect initialRect;   // the selection at mouse-down
    CGPoint initialMouse; // the truncated mouse-down point
    Corner corner = kNoCorner;
    bool ratioLocked = false;
    double ratio = 0; // height divided by width
};

// The selection with the dragged corner at pointer (truncated). Unlocked, the corner's two edges
// follow the pointer and may pass the opposite edges (negative sizes, normalised at mouse-up).
// Locked, the dimension too small for the ratio grows to fit it, keeping the opposite edges, with the
// signs repaired to where the pointer is. A lock that cannot be applied - a ratio that is not a
// positive finite number (switched on while a side was 0), or a raw width of exactly 0 - leaves that
// event's rectangle unlocked: the corner still follows the pointer, and the next event with a usable
// width applies the lock again.
CGRect resizedRect(const CornerDrag& drag, CGPoint pointer);

// The selection at a typed size, kept on the desktop (the view's bounds, from (0, 0)): it grows and
// shrinks from its bottom-left corner while it fits, and is moved back inside as far as it must be
// where it would not, so that no part of it lies beyond an edge. A side longer than the desktop (one
// that follows a locked ratio) is cut to it.
CGRect resizedWithinBounds(const CGRect& selection, CGSize size, CGSize bounds);

// A rectangle of the view's coordinates in overlay coordinates (origin at the top-left of the view,
// y down), for a view boundsHeight high.
CGRect flippedIntoOverlay(const CGRect& r, double boundsHeight);

// Where the countdown digit goes: a 45-point square centred 20 points under the selection, kept
// above the view's bottom edge, made integral.
CGRect timerDisplayRect(const CGRect& sanitizedSelection);

// Where the resize panel goes, in screen coordinates (points, y up, origin at the main screen's
// bottom-left). First its Capture button's centre under the pointer: the panel's origin is the
// pointer less the button's centre (captureButtonFrame is in the panel's own coordinates), each
// coordinate rounded down in single precision.
CGPoint resizePanelOrigin(CGPoint mouseLocation, const CGRect& captureButtonFrame);
// Then onto a screen: the first of screenFrames, in their order, that the panel (at panelFrame)
// touches decides. Lying wholly on it the panel stays; partly on it, it is moved inside, its left or
// bottom edge on the screen's where it is wider or taller. Touching none, it stays.
CGPoint resizePanelOriginOnScreens(const CGRect& panelFrame, const std::vector<CGRect>& screenFrames);

} // namespace crosshair
