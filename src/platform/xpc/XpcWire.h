#pragma once
// How a dictionary travels as a D-Bus a{sv}: uint64 t, int64 x, bool b, double d, string s, and data as
// ay up to kInlineDataLimit bytes, as h (a sealed memfd holding exactly the bytes) above it.

#include "xpc/XpcObjects.h"

#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <optional>

namespace xpc::wire {

inline constexpr qsizetype kInlineDataLimit = 64 * 1024;
// libdbus aborts the sending process on a longer array.
inline constexpr qsizetype kMaxByteArray = 64 * 1024 * 1024;
// Whole messages stay well below libdbus's 128 MiB so the bus never drops our connection.
inline constexpr qint64 kMaxMessageBytes = 120 * 1024 * 1024;
// The most a received file descriptor is read for.
inline constexpr qint64 kMaxFileData = qint64(1) << 30;

// nullopt (with a log line) when the message cannot travel: too large for the bus.
std::optional<QVariantMap> encode(const Dictionary& dictionary, bool fdPassing);
// Reads an a{sv} argument (as QtDBus hands it over) into dictionary. Values of other types, and data
// that cannot be read, are dropped with a log line.
void decode(const QVariant& argument, Dictionary& dictionary);

// An invalid descriptor when the memfd cannot be made.
QDBusUnixFileDescriptor makeSealedMemfd(const QByteArray& bytes);
// A sealed memfd is mapped; any other regular file up to kMaxFileData is copied; nullopt otherwise.
std::optional<Data> readFileData(int fd);

} // namespace xpc::wire
