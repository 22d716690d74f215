#pragma once
// Reads XML property lists (Info.plist, the registered defaults) with Qt's XML stream reader.

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace glimra {

// The top-level value of an XML property list: dict -> QVariantMap, array -> QVariantList,
// string -> QString, integer -> qlonglong, real -> double, true/false -> bool, data -> QByteArray,
// date -> QDateTime. nullopt (with *error set) for a missing, unreadable or malformed file.
std::optional<QVariant> readPropertyList(const QString& path, QString* error = nullptr);
std::optional<QVariant> parsePropertyList(const QByteArray& xml, QString* error = nullptr);

// The top-level dictionary of the file at path, or nullopt when the file is missing, broken or its
// top level is not a dictionary.
std::optional<QVariantMap> readPropertyListDictionary(const QString& path, QString* error = nullptr);

} // namespace glimra
