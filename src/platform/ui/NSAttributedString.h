#pragma once
// Styled text: a string with runs of attributes (a map of attribute name to value), the model that
// buttons' titles and labels are built in. toHtml() turns it into Qt rich text for display.
//
// Lengths and ranges count UTF-16 code units, as QString does. The value is mutable when not const;
// every operation that builds text returns a new value.

#include "NSImage.h"

#include <QColor>
#include <QCursor>
#include <QMap>
#include <QMetaType>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

namespace glimra {

using NSAttributes = QMap<QString, QVariant>;

// Values: QColor, NSShadow, QUrl, int (1 = single underline), QCursor, NSTextAttachment.
inline const QString NSForegroundColorAttributeName = QStringLiteral("NSColor");
inline const QString NSShadowAttributeName = QStringLiteral("NSShadow");
inline const QString NSLinkAttributeName = QStringLiteral("NSLink");
inline const QString NSUnderlineStyleAttributeName = QStringLiteral("NSUnderline");
inline const QString NSCursorAttributeName = QStringLiteral("NSCursor");
inline const QString NSAttachmentAttributeName = QStringLiteral("NSAttachment");
inline constexpr int NSUnderlineStyleSingle = 1;
// The character an attachment stands on.
inline constexpr char16_t NSAttachmentCharacter = 0xFFFC;

struct NSShadow {
    QColor shadowColor{0, 0, 0, 85};
    QSizeF shadowOffset; // y up: a positive height lifts the shadow
    double shadowBlurRadius = 0;
    friend bool operator==(const NSShadow&, const NSShadow&) = default;
};

// A file carried in the text: its name and bytes, and the image to show.
struct NSTextAttachment {
    QString filename;
    QString preferredFilename;
    QByteArray contents;
    std::shared_ptr<const NSImage> image;
    friend bool operator==(const NSTextAttachment& a, const NSTextAttachment& b) {
        return a.filename == b.filename && a.preferredFilename == b.preferredFilename &&
               a.contents == b.contents && a.image == b.image;
    }
};

struct NSRange {
    qsizetype location = 0;
    qsizetype length = 0;
};

class NSAttributedString {
public:
    struct Run {
        qsizetype location;
        qsizetype length;
        NSAttributes attributes;
    };

    NSAttributedString() = default;
    explicit NSAttributedString(const QString& string, const NSAttributes& attributes = {});
    static NSAttributedString attributedStringWithAttachment(const NSTextAttachment& attachment);

    const QString& string() const { return string_; }
    qsizetype length() const { return string_.size(); }
    // Adjacent runs never carry equal attributes.
    const std::vector<Run>& runs() const { return runs_; }
    // The attributes of the character at range.location; nullopt when there is no such character.
    std::optional<NSAttributes> fontAttributesInRange(NSRange range) const;

    void appendAttributedString(const NSAttributedString& other);
    void addAttribute(const QString& name, const QVariant& value, NSRange range);
    void addAttributes(const NSAttributes& attributes, NSRange range);
    // Joins neighbouring runs whose attributes became equal.
    void fixAttributesInRange(NSRange range);

    // Qt rich text: colours, underlines and links as HTML, attachments as inline images.
    QString toHtml() const;

    friend bool operator==(const NSAttributedString& a, const NSAttributedString& b);

private:
    // Splits the run holding index so that a run starts there; returns that run's position.
    size_t splitAt(qsizetype index);

    QString string_;
    std::vector<Run> runs_;
};

} // namespace glimra

Q_DECLARE_METATYPE(glimra::NSShadow)
Q_DECLARE_METATYPE(glimra::NSTextAttachment)
