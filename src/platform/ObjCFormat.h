#pragma once
// Fills the printf-style placeholders the helper's texts use (%@, %d, %ld, %s, %p, %%) in order,
// the way NSString's format methods would, from already-stringified arguments.

#include <QString>
#include <QStringList>

#include <concepts>
#include <string>
#include <string_view>

namespace glimra {

QString formatObjC(std::string_view format, const QStringList& arguments);
QString formatObjC(const QString& format, const QStringList& arguments);

inline QString formatArgument(const QString& s) {
    return s;
}
inline QString formatArgument(const char* s) {
    return s ? QString::fromUtf8(s) : QStringLiteral("(null)");
}
inline QString formatArgument(const std::string& s) {
    return QString::fromStdString(s);
}
inline QString formatArgument(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline QString formatArgument(bool b) {
    return b ? QStringLiteral("1") : QStringLiteral("0");
}
template <std::integral T> QString formatArgument(T v) {
    return QString::number(v);
}
template <std::floating_point T> QString formatArgument(T v) {
    return QString::number(double(v));
}
inline QString formatArgument(const void* p) {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(p), 16);
}
inline QString formatArgument(std::nullptr_t) {
    return QStringLiteral("(null)");
}

template <typename... Args> QString stringWithFormat(std::string_view format, Args&&... args) {
    return formatObjC(format, QStringList{formatArgument(std::forward<Args>(args))...});
}

} // namespace glimra
