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
QString decodeEntry(const QString& keyString, QVariant value, Dictionary& dictionary, DataBudget& budget) {
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
    case QMetaType::QByteArray: {
        std::optional<Data> data = budget.admit(value.toByteArray());
        if (!data)
            return '"' + keyString.left(64) + "\" (over the data limit of a message)";
        dictionary.set(std::move(key), std::move(*data));
        return {};
    }
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusUnixFileDescriptor>()) {
        QString why;
        std::optional<Data> data =
            budget.admitDescriptor(value.value<QDBusUnixFileDescriptor>().fileDescriptor(), &why);
        if (!data)
            return '"' + keyString.left(64) + "\" (" + why + ')';
        dictionary.set(std::move(key), std::move(*data));
        return {};
    }
    return '"' + keyString.left(64) + "\" (D-Bus type " + describeType(value) + ')';
}

} // namespace

void logDropped(const QStringList& dropped) {
    if (dropped.isEmpty())
        return;
    constexpr qsizetype kNamed = 10;
    NSLog("xpc: dropped %ld unsupported value(s) from a message: %@%@", qint64(dropped.size()),
          QStringList(dropped.mid(0, kNamed)).join(QStringLiteral(", ")),
          dropped.size() > kNamed ? QStringLiteral(", ...") : QString());
}

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
        DataBudget budget;
        arg.beginMap();
        while (!arg.atEnd()) {
            QString key;
            QDBusVariant value;
            arg.beginMapEntry();
            arg >> key >> value;
            arg.endMapEntry();
            if (QString reason = decodeEntry(key, value.variant(), dictionary, budget); !reason.isEmpty())
                dropped.append(reason);
        }
        arg.endMap();
        logDropped(dropped);
        return;
    }
    if (argument.metaType() == QMetaType::fromType<QVariantMap>()) {
        const QVariantMap map = argument.toMap();
        QStringList dropped;
        DataBudget budget;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (QString reason = decodeEntry(it.key(), it.value(), dictionary, budget); !reason.isEmpty())
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

std::optional<Data> DataBudget::admit(QByteArray bytes) {
    if (bytes.size() > left_)
        return std::nullopt;
    left_ -= bytes.size();
    return Data{std::move(bytes), nullptr};
}

std::optional<Data> DataBudget::admitDescriptor(int fd, QString* why) {
    constexpr int kRequiredSeals = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW;
    // Only memfds (and other shared memory) carry seals; asking never touches a file system, so a
    // FIFO, a socket or a file whose reads never finish is turned away right here.
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & kRequiredSeals) != kRequiredSeals) {
        *why = QStringLiteral("not a sealed memfd");
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("not a sealed memfd");
        return std::nullopt;
    }
    if (st.st_size > left_) {
        *why = QStringLiteral("%1 bytes, over the data limit of a message").arg(qint64(st.st_size));
        return std::nullopt;
    }
    if (st.st_size == 0)
        return Data{};
    auto mapping = MappedFile::map(fd, size_t(st.st_size));
    if (!mapping) {
        *why = QStringLiteral("cannot be mapped: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    left_ -= st.st_size;
    return Data{QByteArray::fromRawData(mapping->data(), qsizetype(st.st_size)), std::move(mapping)};
}

} // namespace xpc::wire
