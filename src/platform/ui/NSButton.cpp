#include "NSButton.h"
#include "NSView.h"
#include "ShadowBlur.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QStyleOptionButton>

#include <cmath>

namespace glimra {

namespace {

struct TitleMetrics {
    double width = 0;
    double height = 0;
};

QFont runFont(const QFont& base, const NSAttributes& attributes) {
    QFont font = base;
    font.setUnderline(attributes.value(NSUnderlineStyleAttributeName).toInt() != 0);
    return font;
}

std::shared_ptr<const NSImage> attachmentImage(const NSAttributes& attributes) {
    return attributes.value(NSAttachmentAttributeName).value<NSTextAttachment>().image;
}

TitleMetrics measure(const NSAttributedString& title, const QFont& font) {
    TitleMetrics m;
    m.height = QFontMetricsF(font).height();
    for (const auto& run : title.runs()) {
        if (auto image = attachmentImage(run.attributes)) {
            m.width += image->size().width() * double(run.length);
            m.height = std::max(m.height, image->size().height());
        } else {
            m.width += QFontMetricsF(runFont(font, run.attributes))
                           .horizontalAdvance(title.string().mid(run.location, run.length));
        }
    }
    return m;
}

void drawShadowedText(QPainter& p, QPointF baseline, const QString& text, const QFont& font,
                      const NSShadow& shadow) {
    // Shadow offsets point up, as in every y-up view; the widget counts y downwards.
    const QPointF offset(shadow.shadowOffset.width(), -shadow.shadowOffset.height());
    if (shadow.shadowBlurRadius <= 0) {
        p.setPen(shadow.shadowColor);
        p.drawText(baseline + offset, text);
        return;
    }
    const QFontMetricsF fm(font);
    const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const int pad = int(std::ceil(shadow.shadowBlurRadius)) + 1;
    const QSizeF logical(fm.horizontalAdvance(text) + 2 * pad, fm.height() + 2 * pad);
    QImage image((logical * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter ip(&image);
        ip.setFont(font);
        ip.setPen(shadow.shadowColor);
        ip.drawText(QPointF(pad, pad + fm.ascent()), text);
    }
    blurShadowImage(image, shadow.shadowBlurRadius * dpr);
    p.drawImage(baseline + offset - QPointF(pad, pad + fm.ascent()), image);
}

} // namespace

bool NSButtonCell::isHighlighted() const {
    return controlView_ && controlView_->isDown();
}

void NSButtonCell::drawBezelWithFrame(QPainter& painter, const QRectF& frame, NSButton* controlView) {
    QStyleOptionButton option;
    option.initFrom(controlView);
    option.rect = frame.toRect();
    option.state |= isHighlighted() ? QStyle::State_Sunken : QStyle::State_Raised;
    controlView->style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, controlView);
}

void NSButtonCell::drawImage(QPainter& painter, const NSImage& image, const QRectF& frame, NSButton*) {
    const QSizeF size = image.size();
    const QRectF target(frame.center() - QPointF(size.width() / 2, size.height() / 2), size);
    painter.drawPixmap(target, image.pixmapForScale(painter.device()->devicePixelRatioF()), QRectF());
}

void NSButtonCell::drawTitle(QPainter& painter, const NSAttributedString& title, const QRectF& frame,
                             NSButton* controlView) {
    const QFont font = controlView->font();
    const TitleMetrics m = measure(title, font);
    const QFontMetricsF fm(font);
    double x = frame.center().x() - m.width / 2;
    const double baseline = frame.center().y() + (fm.ascent() - fm.descent()) / 2;
    const QColor standard = controlView->palette().color(
        controlView->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    painter.save();
    for (const auto& run : title.runs()) {
        if (auto image = attachmentImage(run.attributes)) {
            const QSizeF size = image->size();
            for (qsizetype i = 0; i < run.length; ++i, x += size.width())
                painter.drawPixmap(QRectF(QPointF(x, baseline - size.height()), size),
                                   image->pixmapForScale(painter.device()->devicePixelRatioF()), QRectF());
            continue;
        }
        const QString text = title.string().mid(run.location, run.length);
        const QFont f = runFont(font, run.attributes);
        painter.setFont(f);
        if (run.attributes.contains(NSShadowAttributeName))
            drawShadowedText(painter, {x, baseline}, text, f,
                             run.attributes.value(NSShadowAttributeName).value<NSShadow>());
        const QColor color = run.attributes.value(NSForegroundColorAttributeName).value<QColor>();
        painter.setPen(color.isValid() ? color : standard);
        painter.drawText(QPointF(x, baseline), text);
        x += QFontMetricsF(f).horizontalAdvance(text);
    }
    painter.restore();
}

QSizeF NSButtonCell::cellSizeForBounds(const QRectF& bounds) const {
    if (!controlView_)
        return {};
    const TitleMetrics m = measure(controlView_->attributedTitle(), controlView_->font());
    QStyleOptionButton option;
    option.initFrom(controlView_);
    const QSize contents(int(std::ceil(m.width)), int(std::ceil(m.height)));
    QSizeF size =
        controlView_->style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, controlView_);
    size.setHeight(std::min(size.height(), std::max(bounds.height(), contents.height() + 0.0)));
    return size;
}

NSButton::NSButton(QWidget* parent) : NSButton(std::make_unique<NSButtonCell>(), parent) {}

NSButton::NSButton(std::unique_ptr<NSButtonCell> cell, QWidget* parent) : QPushButton(parent) {
    setCell(std::move(cell));
}

NSButton::~NSButton() = default;

void NSButton::setCell(std::unique_ptr<NSButtonCell> cell) {
    if (cell_)
        cell_->controlView_ = nullptr;
    cell_ = std::move(cell);
    if (cell_)
        cell_->controlView_ = this;
    updateGeometry();
    update();
}

void NSButton::setTitle(const QString& title) {
    setAttributedTitle(NSAttributedString(title));
}

NSAttributedString NSButton::attributedTitle() const {
    return attributedTitle_.string() == text() ? attributedTitle_ : NSAttributedString(text());
}

void NSButton::setAttributedTitle(const NSAttributedString& title) {
    attributedTitle_ = title;
    setText(title.string());
    updateGeometry();
    update();
}

void NSButton::setImage(std::shared_ptr<NSImage> image) {
    image_ = std::move(image);
    update();
}

void NSButton::setAlternateImage(std::shared_ptr<NSImage> image) {
    alternateImage_ = std::move(image);
    update();
}

void NSButton::setBordered(bool bordered) {
    bordered_ = bordered;
    update();
}

void NSButton::setAction(const QByteArray& selector) {
    setProperty(kActionProperty, selector);
}

QSize NSButton::sizeHint() const {
    if (!cell_)
        return QPushButton::sizeHint();
    const QSizeF size = cell_->cellSizeForBounds(QRectF(0, 0, 10000.0, 10000.0));
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

void NSButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!cell_)
        return;
    if (bordered_)
        cell_->drawBezelWithFrame(painter, QRectF(rect()), this);
    const std::shared_ptr<NSImage>& shown = isDown() && alternateImage_ ? alternateImage_ : image_;
    if (shown)
        cell_->drawImage(painter, *shown, QRectF(rect()), this);
    cell_->drawTitle(painter, attributedTitle(), QRectF(rect()), this);
}

} // namespace glimra
