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
// The most data, inline and in memfds together, that one received message may carry.
inline constexpr qint64 kMaxMessageData = qint64(256) << 20;

// nullopt (with a log line) when the message cannot travel: too large for the bus.
std::optional<QVariantMap> encode(const Dictionary& dictionary, bool fdPassing);
// Reads an a{sv} argument (as QtDBus hands it over) into dictionary. Values of other types, and data
// that cannot be read, are dropped with a log line.
void decode(const QVariant& argument, Dictionary& dictionary);

// An invalid descriptor when the memfd cannot be made.
QDBusUnixFileDescriptor makeSealedMemfd(const QByteArray& bytes);

// Admits the data values of one received message, kMaxMessageData bytes in all. Nothing here can
// block: a descriptor is only ever inspected and mapped, never read.
class DataBudget {
public:
    // nullopt when the bytes would exceed what is left.
    std::optional<Data> admit(QByteArray bytes);
    // A memfd sealed against writing, shrinking and growing is mapped (lazily: its pages are the
    // sender's until someone reads them); any other descriptor is refused, with *why set. The
    // descriptor stays the caller's.
    std::optional<Data> admitDescriptor(int fd, QString* why);

private:
    qint64 left_ = kMaxMessageData;
};

// One line for the values of a message that were dropped, however many a sender spoils.
void logDropped(const QStringList& dropped);

} // namespace xpc::wire
