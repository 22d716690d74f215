#pragma once
// Images drawn in parts so one piece of artwork fits any size: caps and corners at their natural size,
// edges stretched along one axis and the centre along both.
//
// `flipped` tells how the painter's coordinates run: true for Qt's own y-down painting, false for a
// painter a y-up view has turned over. Either way the images come out upright and the top row, or the
// start cap of a vertical image, lies at the visual top; passing the wrong value turns them over.
// A null image draws nothing in its part. Caps wider (or taller) than the frame shrink to share it.

#include "NSImage.h"

#include <QPainter>
#include <QRectF>

namespace glimra {

// Start cap, centre fill and end cap, left to right (top to bottom when vertical).
void NSDrawThreePartImage(QPainter& painter, const QRectF& frame, const NSImage* startCap,
                          const NSImage* centerFill, const NSImage* endCap, bool vertical,
                          QPainter::CompositionMode op, double alpha, bool flipped);

// The corners' sizes are those of the top-left and bottom-right images.
void NSDrawNinePartImage(QPainter& painter, const QRectF& frame, const NSImage* topLeftCorner,
                         const NSImage* topEdgeFill, const NSImage* topRightCorner,
                         const NSImage* leftEdgeFill, const NSImage* centerFill, const NSImage* rightEdgeFill,
                         const NSImage* bottomLeftCorner, const NSImage* bottomEdgeFill,
                         const NSImage* bottomRightCorner, QPainter::CompositionMode op, double alpha,
                         bool flipped);

} // namespace glimra
