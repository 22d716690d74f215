#include "CrosshairInputBackgroundView.h"

#include "NSDrawing.h"

#include <QPainter>

CrosshairInputBackgroundView::CrosshairInputBackgroundView(QWidget* parent)
    : QWidget(parent), _left(glimra::NSImage::imageNamed(QStringLiteral("capture_input_left"))),
      _middle(glimra::NSImage::imageNamed(QStringLiteral("capture_input_middle"))),
      _right(glimra::NSImage::imageNamed(QStringLiteral("capture_input_right"))) {}

void CrosshairInputBackgroundView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Drawn in the view's own y-up coordinates, as the whole of its bounds.
    painter.translate(0, height());
    painter.scale(1, -1);
    glimra::NSDrawThreePartImage(painter, QRectF(0, 0, width(), height()), _left.get(), _middle.get(),
                                 _right.get(), false, QPainter::CompositionMode_SourceOver, 1.0, false);
}
