#pragma once
// The well drawn behind each of the resize panel's number fields: the three "capture_input_" images,
// caps at their natural width and the middle stretched across the view.

#include "NSImage.h"

#include <QWidget>

#include <memory>

class CrosshairInputBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit CrosshairInputBackgroundView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<glimra::NSImage> _left;
    std::shared_ptr<glimra::NSImage> _middle;
    std::shared_ptr<glimra::NSImage> _right;
};
