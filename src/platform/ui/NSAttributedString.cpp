#include "NSAttributedString.h"

#include <QBuffer>

#include <algorithm>

namespace glimra {

NSAttributedString::NSAttributedString(const QString& string, const NSAttributes& attributes)
    : string_(string) {
    if (!string_.isEmpty())
        runs_.push_back({0, string_.size(), attributes});
}

NSAttributedString NSAttributedString::attributedStringWithAttachment(const NSTextAttachment& attachment) {
    return NSAttributedString(QString(QChar(NSAttachmentCharacter)),
                              {{NSAttachmentAttributeName, QVariant::fromValue(attachment)}});
}

std::optional<NSAttributes> NSAttributedString::fontAttributesInRange(NSRange range) const {
    for (const Run& run : runs_)
        if (range.location >= run.location && range.location < run.location + run.length)
            return run.attributes;
    return std::nullopt;
}

void NSAttributedString::appendAttributedString(const NSAttributedString& other) {
    const qsizetype offset = string_.size();
    string_ += other.string_;
    for (const Run& run : other.runs_)
        runs_.push_back({run.location + offset, run.length, run.attributes});
    fixAttributesInRange({0, length()});
}

size_t NSAttributedString::splitAt(qsizetype index) {
    for (size_t i = 0; i < runs_.size(); ++i) {
        Run& run = runs_[i];
        if (run.location == index)
            return i;
        if (index > run.location && index < run.location + run.length) {
            Run tail{index, run.location + run.length - index, run.attributes};
            run.length = index - run.location;
            runs_.insert(runs_.begin() + qsizetype(i) + 1, tail);
            return i + 1;
        }
    }
    return runs_.size();
}

void NSAttributedString::addAttribute(const QString& name, const QVariant& value, NSRange range) {
    addAttributes({{name, value}}, range);
}

void NSAttributedString::addAttributes(const NSAttributes& attributes, NSRange range) {
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length());
    const qsizetype end = std::clamp<qsizetype>(range.location + range.length, start, length());
    if (start == end)
        return;
    splitAt(end);
    for (size_t i = splitAt(start); i < runs_.size() && runs_[i].location < end; ++i)
        runs_[i].attributes.insert(attributes);
    fixAttributesInRange({start, end - start});
}

void NSAttributedString::fixAttributesInRange(NSRange) {
    // Joining is cheap enough to do over the whole string, which also covers runs around the range.
    std::vector<Run> joined;
    for (Run& run : runs_) {
        if (!joined.empty() && joined.back().attributes == run.attributes)
            joined.back().length += run.length;
        else
            joined.push_back(std::move(run));
    }
    runs_ = std::move(joined);
}

QString NSAttributedString::toHtml() const {
    QString html;
    for (const Run& run : runs_) {
        const NSAttributes& a = run.attributes;
        if (a.contains(NSAttachmentAttributeName)) {
            const auto attachment = a.value(NSAttachmentAttributeName).value<NSTextAttachment>();
            if (!attachment.image)
                continue;
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            attachment.image->pixmapForScale(1.0).save(&buffer, "PNG");
            const QString img =
                QStringLiteral("<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\">")
                    .arg(QString::fromLatin1(png.toBase64()))
                    .arg(attachment.image->size().width())
                    .arg(attachment.image->size().height());
            for (qsizetype i = 0; i < run.length; ++i)
                html += img;
            continue;
        }
        QString style;
        if (const QColor color = a.value(NSForegroundColorAttributeName).value<QColor>(); color.isValid())
            style += QStringLiteral("color:%1;")
                         .arg(color.name(color.alpha() == 255 ? QColor::HexRgb : QColor::HexArgb));
        if (a.value(NSUnderlineStyleAttributeName).toInt() != 0)
            style += QStringLiteral("text-decoration:underline;");
        QString text = string_.mid(run.location, run.length).toHtmlEscaped();
        text.replace(u'\n', QStringLiteral("<br>"));
        if (!style.isEmpty())
            text = QStringLiteral("<span style=\"%1\">%2</span>").arg(style, text);
        if (const QUrl url = a.value(NSLinkAttributeName).toUrl(); url.isValid())
            text = QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toString().toHtmlEscaped(), text);
        html += text;
    }
    return html;
}

bool operator==(const NSAttributedString& a, const NSAttributedString& b) {
    if (a.string_ != b.string_ || a.runs_.size() != b.runs_.size())
        return false;
    for (size_t i = 0; i < a.runs_.size(); ++i)
        if (a.runs_[i].location != b.runs_[i].location || a.runs_[i].length != b.runs_[i].length ||
            a.runs_[i].attributes != b.runs_[i].attributes)
            return false;
    return true;
}

} // namespace glimra
