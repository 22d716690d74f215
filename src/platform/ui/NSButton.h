#pragma once
// A push button drawn by a cell: the cell draws the bezel, the image and the title, so a cell of
// another class changes the button's look without touching its behaviour. Its title is an attributed
// string (colour, shadow, underline per run); setTitle() replaces it with plain text. A button may
// show an image, with an alternate image while it is held down, and go without a bezel.

#include "NSAttributedString.h"
#include "NSImage.h"

#include <QByteArray>
#include <QPushButton>

#include <memory>

namespace glimra {

class NSButton;

class NSButtonCell {
public:
    virtual ~NSButtonCell() = default;

    // The button showing this cell; nullptr until one does.
    NSButton* controlView() const { return controlView_; }
    // Whether the button is held down.
    bool isHighlighted() const;

    // The bezel: the style's push button.
    virtual void drawBezelWithFrame(QPainter& painter, const QRectF& frame, NSButton* controlView);
    // The image, centred in frame at its size in points.
    virtual void drawImage(QPainter& painter, const NSImage& image, const QRectF& frame,
                           NSButton* controlView);
    // The title, centred in frame on one line.
    virtual void drawTitle(QPainter& painter, const NSAttributedString& title, const QRectF& frame,
                           NSButton* controlView);
    // The size this cell needs for its button's title; bounds give the height it may use.
    virtual QSizeF cellSizeForBounds(const QRectF& bounds) const;

private:
    friend class NSButton;
    NSButton* controlView_ = nullptr;
};

class NSButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(bool bordered READ isBordered WRITE setBordered)
public:
    explicit NSButton(QWidget* parent = nullptr);
    NSButton(std::unique_ptr<NSButtonCell> cell, QWidget* parent = nullptr);
    ~NSButton() override;

    NSButtonCell* cell() const { return cell_.get(); }
    void setCell(std::unique_ptr<NSButtonCell> cell);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    // The title with its attributes; plain text when the title was changed through setText().
    NSAttributedString attributedTitle() const;
    void setAttributedTitle(const NSAttributedString& title);

    const std::shared_ptr<NSImage>& image() const { return image_; }
    void setImage(std::shared_ptr<NSImage> image);
    // Shown instead of the image while the button is held down; none: the image stays.
    const std::shared_ptr<NSImage>& alternateImage() const { return alternateImage_; }
    void setAlternateImage(std::shared_ptr<NSImage> image);
    // Without a bezel only the image and the title are drawn.
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered);

    // Qt widgets count y downwards.
    bool isFlipped() const { return true; }
    void setAction(const QByteArray& selector);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<NSButtonCell> cell_;
    NSAttributedString attributedTitle_;
    std::shared_ptr<NSImage> image_;
    std::shared_ptr<NSImage> alternateImage_;
    bool bordered_ = true;
};

} // namespace glimra
