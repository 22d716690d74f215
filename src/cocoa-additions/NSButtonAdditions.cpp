#include "NSButtonAdditions.h"

#include <QGuiApplication>
#include <QPalette>

using glimra::NSAttributedString;

namespace {

void addAttributeToTitle(glimra::NSButton& button, const QString& name, const QVariant& value) {
    NSAttributedString title = button.attributedTitle();
    title.addAttribute(name, value, {0, title.length()});
    title.fixAttributesInRange({0, title.length()});
    button.setAttributedTitle(title);
}

} // namespace

std::optional<QColor> textColor(const glimra::NSButton& button) {
    const NSAttributedString title = button.attributedTitle();
    const auto attributes = title.fontAttributesInRange({0, title.length() > 0 ? 1 : 0});
    if (!attributes)
        return QGuiApplication::palette().color(QPalette::ButtonText);
    const QVariant color = attributes->value(glimra::NSForegroundColorAttributeName);
    if (!color.isValid())
        return std::nullopt;
    return color.value<QColor>();
}

void setTextColor(glimra::NSButton& button, const QColor& color) {
    addAttributeToTitle(button, glimra::NSForegroundColorAttributeName, color);
}

void setTextShadow(glimra::NSButton& button, const glimra::NSShadow& shadow) {
    addAttributeToTitle(button, glimra::NSShadowAttributeName, QVariant::fromValue(shadow));
}

void setTextShadowColor(glimra::NSButton& button, const QColor& color, QSizeF offset, double blurRadius) {
    glimra::NSShadow shadow;
    shadow.shadowColor = color;
    shadow.shadowOffset = offset;
    shadow.shadowBlurRadius = blurRadius;
    setTextShadow(button, shadow);
}
