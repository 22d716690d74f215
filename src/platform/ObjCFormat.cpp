#include "ObjCFormat.h"

namespace glimra {

QString formatObjC(const QString& format, const QStringList& arguments) {
    QString out;
    out.reserve(format.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != u'%' || i + 1 >= format.size()) {
            out.append(c);
            continue;
        }
        if (format.at(i + 1) == u'%') {
            out.append(u'%');
            ++i;
            continue;
        }
        // Skip flags, width, precision and length modifiers up to the conversion character.
        qsizetype j = i + 1;
        while (j < format.size() && QStringLiteral("-+ #0123456789.lhqzjtL").contains(format.at(j)))
            ++j;
        if (j >= format.size()) {
            out.append(format.mid(i));
            break;
        }
        out.append(next < arguments.size() ? arguments.at(next) : QString());
        ++next;
        i = j;
    }
    return out;
}

QString formatObjC(std::string_view format, const QStringList& arguments) {
    return formatObjC(QString::fromUtf8(format.data(), qsizetype(format.size())), arguments);
}

} // namespace glimra
