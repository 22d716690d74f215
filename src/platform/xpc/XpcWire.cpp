#include "xpc/XpcWire.h"

#include "Log.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xpc::wire {
namespace {

// Marshalling overhead per entry: the key's length and padding, the variant's signature, alignment.
constexpr qint64 kEntryOverhead = 24;

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

QString describeType(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature();
    if (const char* signature = QDBusMetaType::typeToSignature(value.metaType()))
        return QString::fromLatin1(signature);
    return QString::fromLatin1(value.metaType().name() ? value.metaType().name() : "invalid");
}

// Empty when the value was taken, else why it was not.
QString decodeEntry(const QString& keyString, QVariant value, Dictionary& dictionary) {
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    std::string key = keyString.toStdString();
    switch (value.metaType().id()) {
    case QMetaType::ULongLong:
        dictionary.set(std::move(key), uint64_t(value.toULongLong()));
        return {};
    case QMetaType::LongLong:
        dictionary.set(std::move(key), int64_t(value.toLongLong()));
        return {};
    case QMetaType::Bool:
        dictionary.set(std::move(key), value.toBool());
        return {};
    case QMetaType::Double:
        dictionary.set(std::move(key), value.toDouble());
        return {};
    case QMetaType::QString:
        dictionary.set(std::move(key), value.toString().toStdString());
        return {};
    case QMetaType::QByteArray:
        dictionary.setData(std::move(key), value.toByteArray());
        return {};
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusUnixFileDescriptor>()) {
        std::optional<Data> data = readFileData(value.value<QDBusUnixFileDescriptor>().fileDescriptor());
        if (!data)
            return '"' + keyString.left(64) + "\" (unreadable file descriptor)";
        dictionary.set(std::move(key), std::move(*data));
        return {};
    }
    return '"' + keyString.left(64) + "\" (D-Bus type " + describeType(value) + ')';
}

// One line per message however many values a hostile sender spoils.
void logDropped(const QStringList& dropped) {
    if (dropped.isEmpty())
        return;
    constexpr qsizetype kNamed = 10;
    NSLog("xpc: dropped %ld unsupported value(s) from a message: %@%@", qint64(dropped.size()),
          QStringList(dropped.mid(0, kNamed)).join(QStringLiteral(", ")),
          dropped.size() > kNamed ? QStringLiteral(", ...") : QString());
}

} // namespace

std::optional<QVariantMap> encode(const Dictionary& dictionary, bool fdPassing) {
    QVariantMap map;
    qint64 total = 0;
    for (auto& [key, value] : dictionary.entries()) {
        const QString name = QString::fromStdString(key);
        total += kEntryOverhead + qint64(key.size());
        if (const auto* v = std::get_if<uint64_t>(&value)) {
            map.insert(name, QVariant::fromValue<qulonglong>(*v));
        } else if (const auto* v = std::get_if<int64_t>(&value)) {
            map.insert(name, QVariant::fromValue<qlonglong>(*v));
        } else if (const auto* v = std::get_if<bool>(&value)) {
            map.insert(name, QVariant::fromValue<bool>(*v));
        } else if (const auto* v = std::get_if<double>(&value)) {
            map.insert(name, QVariant::fromValue<double>(*v));
        } else if (const auto* v = std::get_if<std::string>(&value)) {
            total += qint64(v->size());
            map.insert(name, QString::fromStdString(*v));
        } else if (const auto* data = std::get_if<Data>(&value)) {
            const QByteArray* v = &data->bytes;
            if (v->size() > kInlineDataLimit && fdPassing) {
                QDBusUnixFileDescriptor fd = makeSealedMemfd(*v);
                if (fd.isValid()) {
                    map.insert(name, QVariant::fromValue(fd));
                    continue;
                }
            }
            if (v->size() > kMaxByteArray) {
                NSLog("xpc: dropped \"%@\": %ld bytes of data cannot travel without file descriptors", name,
                      qint64(v->size()));
                continue;
            }
            total += v->size();
            map.insert(name, *v);
        }
    }
    if (total > kMaxMessageBytes) {
        NSLog("xpc: a message of about %ld bytes is too large for the bus and was not sent", total);
        return std::nullopt;
    }
    return map;
}

void decode(const QVariant& argument, Dictionary& dictionary) {
    if (argument.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument arg = argument.value<QDBusArgument>();
        if (arg.currentType() != QDBusArgument::MapType) {
            NSLog("xpc: expected a dictionary, got D-Bus type %@", arg.currentSignature());
            return;
        }
        QStringList dropped;
        arg.beginMap();
        while (!arg.atEnd()) {
            QString key;
            QDBusVariant value;
            arg.beginMapEntry();
            arg >> key >> value;
            arg.endMapEntry();
            if (QString reason = decodeEntry(key, value.variant(), dictionary); !reason.isEmpty())
                dropped.append(reason);
        }
        arg.endMap();
        logDropped(dropped);
        return;
    }
    if (argument.metaType() == QMetaType::fromType<QVariantMap>()) {
        const QVariantMap map = argument.toMap();
        QStringList dropped;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (QString reason = decodeEntry(it.key(), it.value(), dictionary); !reason.isEmpty())
                dropped.append(reason);
        logDropped(dropped);
        return;
    }
    NSLog("xpc: expected a dictionary, got %@", describeType(argument));
}

QDBusUnixFileDescriptor makeSealedMemfd(const QByteArray& bytes) {
    const int fd = ::memfd_create("xpc-data", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        NSLog("xpc: memfd_create failed: %s", std::strerror(errno));
        return {};
    }
    QDBusUnixFileDescriptor result;
    if (writeAll(fd, bytes.constData(), bytes.size()) &&
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0)
        result.setFileDescriptor(fd); // duplicates it
    else
        NSLog("xpc: could not fill and seal a memfd: %s", std::strerror(errno));
    ::close(fd);
    return result;
}

std::optional<Data> readFileData(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileData)
        return std::nullopt;
    // A sealed memfd is mapped rather than copied: the pages are the sender's, no copy, no faults.
    if (auto mapping = MappedFile::map(fd, size_t(st.st_size)))
        return Data{QByteArray::fromRawData(mapping->data(), qsizetype(st.st_size)), std::move(mapping)};
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pread(fd, data.data() + done, size_t(data.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return Data{std::move(data), nullptr};
}

} // namespace xpc::wire
