#pragma once
// A button title's colour and shadow, set by rewriting its attributed title from the current title:
// set the title first, since a later setTitle() drops them again.

#include "NSAttributedString.h"
#include "NSButton.h"

#include <QColor>
#include <QSizeF>

#include <optional>

// The colour of the title's first character: nullopt when it has none; the standard control text
// colour when the title has no character to ask.
std::optional<QColor> textColor(const glimra::NSButton& button);
void setTextColor(glimra::NSButton& button, const QColor& color);
void setTextShadow(glimra::NSButton& button, const glimra::NSShadow& shadow);
// offset y up: a positive height lifts the shadow.
void setTextShadowColor(glimra::NSButton& button, const QColor& color, QSizeF offset, double blurRadius);
