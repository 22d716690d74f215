#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QXmlStreamReader>

namespace glimra {
namespace {

class Parser {
public:
    explicit Parser(const QByteArray& xml) : reader_(xml) {}

    std::optional<QVariant> parseDocument(QString* error) {
        std::optional<QVariant> result;
        while (!reader_.atEnd() && !failed_) {
            reader_.readNext();
            if (!reader_.isStartElement())
                continue;
            if (reader_.name() == u"plist") {
                if (!nextElement())
                    break;
                result = parseValue();
                // Anything but the end of <plist> after the one value is malformed.
                if (!failed_ && nextElement())
                    fail(QStringLiteral("more than one top-level value"));
                break;
            }
            fail(QStringLiteral("the root element is not <plist>"));
        }
        if (!failed_ && reader_.hasError())
            fail(reader_.errorString());
        if (!failed_ && !result)
            fail(QStringLiteral("no value"));
        if (failed_) {
            if (error)
                *error = error_;
            return std::nullopt;
        }
        return result;
    }

private:
    // Advances to the next start element inside the current one; false at its end element.
    bool nextElement() {
        while (!reader_.atEnd()) {
            reader_.readNext();
            if (reader_.isStartElement())
                return true;
            if (reader_.isEndElement())
                return false;
            if (reader_.isCharacters() && !reader_.isWhitespace()) {
                fail(QStringLiteral("unexpected text"));
                return false;
            }
        }
        return false;
    }

    QVariant parseValue() {
        if (++depth_ > 256) {
            fail(QStringLiteral("nesting too deep"));
            return {};
        }
        QVariant value;
        const auto name = reader_.name();
        if (name == u"dict") {
            QVariantMap map;
            while (!failed_ && nextElement()) {
                if (reader_.name() != u"key") {
                    fail(QStringLiteral("a dict entry without <key>"));
                    break;
                }
                const QString key = reader_.readElementText();
                if (!nextElement()) {
                    fail(QStringLiteral("key '%1' has no value").arg(key));
                    break;
                }
                map.insert(key, parseValue());
            }
            value = map;
        } else if (name == u"array") {
            QVariantList list;
            while (!failed_ && nextElement())
                list.append(parseValue());
            value = list;
        } else if (name == u"string") {
            value = reader_.readElementText();
        } else if (name == u"integer") {
            bool ok = false;
            const qlonglong n = reader_.readElementText().trimmed().toLongLong(&ok);
            if (!ok)
                fail(QStringLiteral("bad <integer>"));
            value = n;
        } else if (name == u"real") {
            bool ok = false;
            const double d = reader_.readElementText().trimmed().toDouble(&ok);
            if (!ok)
                fail(QStringLiteral("bad <real>"));
            value = d;
        } else if (name == u"true" || name == u"false") {
            value = (name == u"true");
            reader_.skipCurrentElement();
        } else if (name == u"data") {
            value = QByteArray::fromBase64(reader_.readElementText().toLatin1());
        } else if (name == u"date") {
            value = QDateTime::fromString(reader_.readElementText().trimmed(), Qt::ISODate);
        } else {
            fail(QStringLiteral("unknown element <%1>").arg(name.toString()));
        }
        if (reader_.hasError())
            fail(reader_.errorString());
        --depth_;
        return value;
    }

    void fail(const QString& why) {
        if (failed_)
            return;
        failed_ = true;
        error_ = QStringLiteral("line %1: %2").arg(reader_.lineNumber()).arg(why);
    }

    QXmlStreamReader reader_;
    bool failed_ = false;
    int depth_ = 0;
    QString error_;
};

} // namespace

std::optional<QVariant> parsePropertyList(const QByteArray& xml, QString* error) {
    return Parser(xml).parseDocument(error);
}

std::optional<QVariant> readPropertyList(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    // Property lists here are small; refuse anything absurd rather than read it whole.
    if (file.size() > 16 * 1024 * 1024) {
        if (error)
            *error = QStringLiteral("file too large");
        return std::nullopt;
    }
    return parsePropertyList(file.readAll(), error);
}

std::optional<QVariantMap> readPropertyListDictionary(const QString& path, QString* error) {
    auto value = readPropertyList(path, error);
    if (!value)
        return std::nullopt;
    if (value->typeId() != QMetaType::QVariantMap) {
        if (error)
            *error = QStringLiteral("the top-level value is not a dictionary");
        return std::nullopt;
    }
    return value->toMap();
}

} // namespace glimra
