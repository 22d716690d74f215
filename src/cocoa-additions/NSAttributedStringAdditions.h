#pragma once
// Building styled text.
//
// Templates: literal text with placeholders "$n", n counting argument pairs from 1. The arguments are
// objects taken in pairs, a string then its attribute map; they end at the first null QVariant, and
// an odd last object belongs to no pair. Each placeholder is replaced by its pair's string with the
// base attributes overlaid by the pair's own. The number ends at the first non-digit, so digits
// cannot follow a placeholder directly; there is no escape for a literal "$". A "$" not followed by a
// number, or a number outside 1...pairs, makes the whole result nullopt. Literal text is never
// shortened; with maxInputStringLength > 0 each argument string is cut to that many user-perceived
// characters.

#include "NSAttributedString.h"
#include "NSImage.h"

#include <QColor>
#include <QString>
#include <QVariantList>

#include <memory>
#include <optional>

std::optional<glimra::NSAttributedString>
attributedStringWithTemplate(const QString& templateString, const glimra::NSAttributes& baseAttributes,
                             qint64 maxInputStringLength, const QVariantList& args);
std::optional<glimra::NSAttributedString>
attributedStringWithTemplate(const QString& templateString, const glimra::NSAttributes& baseAttributes,
                             const QVariantList& args);

// At most max grapheme clusters of s, none split, without a mark at the cut; s itself when it is
// short enough or max is negative.
QString stringByTruncatingToMaxNumberOfComposedCharacterSequences(const QString& s, qint64 max);

// Copies of s with the colour, or the attributes, added over the whole text.
glimra::NSAttributedString attributedStringWithColor(const glimra::NSAttributedString& s,
                                                     const QColor& color);
glimra::NSAttributedString attributedStringWithAddedAttributes(const glimra::NSAttributedString& s,
                                                               const glimra::NSAttributes& attributes);

// A link's look: its URL when link parses as one, the colour (blue when invalid), a single underline
// when asked, and the pointing-hand cursor.
glimra::NSAttributes attributesForLinkTo(const QString& link, const QColor& color, bool underline);
glimra::NSAttributes attributesForLinkTo(const QString& link);

// Appends image as an attached TIFF file named after it ("image.tiff" when it has no name).
void appendImage(glimra::NSAttributedString& s, std::shared_ptr<const glimra::NSImage> image);
