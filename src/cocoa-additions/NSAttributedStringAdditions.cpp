#include "NSAttributedStringAdditions.h"

#include "Log.h"

#include <QCursor>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <limits>

using glimra::NSAttributedString;
using glimra::NSAttributes;

namespace {

// A decimal integer with an optional sign, as a scanner reads one: nullopt when there are no digits.
// Values beyond int saturate.
std::optional<qint64> scanInt(const QString& s, qsizetype& pos) {
    qsizetype i = pos;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+'))
        negative = s[i++] == u'-';
    const qsizetype digits = i;
    qint64 value = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i)
        value = std::min<qint64>(value * 10 + (s[i].unicode() - u'0'),
                                 qint64(std::numeric_limits<int>::max()) + 1);
    if (i == digits)
        return std::nullopt;
    pos = i;
    return negative ? -value : std::min<qint64>(value, std::numeric_limits<int>::max());
}

} // namespace

QString stringByTruncatingToMaxNumberOfComposedCharacterSequences(const QString& s, qint64 max) {
    if (max < 0 || s.size() <= max)
        return s;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qint64 clusters = 0;
    while (finder.toNextBoundary() != -1) {
        if (++clusters == max)
            return s.left(finder.position());
    }
    return s;
}

std::optional<NSAttributedString> attributedStringWithTemplate(const QString& templateString,
                                                               const NSAttributes& baseAttributes,
                                                               qint64 maxInputStringLength,
                                                               const QVariantList& args) {
    qsizetype count = 0;
    while (count < args.size() && args[count].isValid())
        ++count;
    const qint64 pairs = count / 2;

    NSAttributedString result;
    qsizetype pos = 0;
    while (pos < templateString.size()) {
        const qsizetype dollar = templateString.indexOf(u'$', pos);
        const qsizetype literalEnd = dollar < 0 ? templateString.size() : dollar;
        if (literalEnd > pos)
            result.appendAttributedString(
                NSAttributedString(templateString.mid(pos, literalEnd - pos), baseAttributes));
        pos = literalEnd;
        if (pos >= templateString.size())
            break;
        ++pos;
        const std::optional<qint64> n = scanInt(templateString, pos);
        if (!n || *n < 1 || *n > pairs)
            return std::nullopt;
        QString string = args[2 * *n - 2].toString();
        if (maxInputStringLength != 0)
            string = stringByTruncatingToMaxNumberOfComposedCharacterSequences(string, maxInputStringLength);
        NSAttributedString piece(string, baseAttributes);
        piece.addAttributes(args[2 * *n - 1].value<NSAttributes>(), {0, piece.length()});
        result.appendAttributedString(piece);
    }
    return result;
}

std::optional<NSAttributedString> attributedStringWithTemplate(const QString& templateString,
                                                               const NSAttributes& baseAttributes,
                                                               const QVariantList& args) {
    return attributedStringWithTemplate(templateString, baseAttributes, 0, args);
}

NSAttributedString attributedStringWithColor(const NSAttributedString& s, const QColor& color) {
    return attributedStringWithAddedAttributes(s, {{glimra::NSForegroundColorAttributeName, color}});
}

NSAttributedString attributedStringWithAddedAttributes(const NSAttributedString& s,
                                                       const NSAttributes& attributes) {
    NSAttributedString copy = s;
    copy.addAttributes(attributes, {0, copy.length()});
    return copy;
}

NSAttributes attributesForLinkTo(const QString& link, const QColor& color, bool underline) {
    NSAttributes attributes;
    if (!link.isEmpty())
        if (const QUrl url(link, QUrl::StrictMode); url.isValid())
            attributes.insert(glimra::NSLinkAttributeName, url);
    attributes.insert(glimra::NSForegroundColorAttributeName, color.isValid() ? color : QColor(Qt::blue));
    if (underline)
        attributes.insert(glimra::NSUnderlineStyleAttributeName, glimra::NSUnderlineStyleSingle);
    attributes.insert(glimra::NSCursorAttributeName, QCursor(Qt::PointingHandCursor));
    return attributes;
}

NSAttributes attributesForLinkTo(const QString& link) {
    return attributesForLinkTo(link, QColor(), true);
}

void appendImage(NSAttributedString& s, std::shared_ptr<const glimra::NSImage> image) {
    if (!image) {
        NSLog("appendImage: no image to append");
        return;
    }
    glimra::NSTextAttachment attachment;
    attachment.contents = image->TIFFRepresentation();
    attachment.filename =
        (image->name().isEmpty() ? QStringLiteral("image") : image->name()) + QStringLiteral(".tiff");
    attachment.preferredFilename = attachment.filename;
    attachment.image = std::move(image);
    s.appendAttributedString(NSAttributedString::attributedStringWithAttachment(attachment));
}
