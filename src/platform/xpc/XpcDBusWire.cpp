#include "xpc/XpcDBusWire.h"

#include "xpc/XpcWire.h"

#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace xpc::wire {
namespace {

template <typename T> T basic(DBusMessageIter* iter) {
    T value{};
    dbus_message_iter_get_basic(iter, &value);
    return value;
}

// Empty when the value was taken, else why it was not.
QString readEntry(std::string key, DBusMessageIter* variant, Dictionary& dictionary, DataBudget& budget) {
    const QString name = '"' + QString::fromStdString(key.substr(0, 64)) + '"';
    switch (dbus_message_iter_get_arg_type(variant)) {
    case DBUS_TYPE_UINT64:
        dictionary.set(std::move(key), uint64_t(basic<dbus_uint64_t>(variant)));
        return {};
    case DBUS_TYPE_INT64:
        dictionary.set(std::move(key), int64_t(basic<dbus_int64_t>(variant)));
        return {};
    case DBUS_TYPE_BOOLEAN:
        dictionary.set(std::move(key), basic<dbus_bool_t>(variant) != 0);
        return {};
    case DBUS_TYPE_DOUBLE:
        dictionary.set(std::move(key), basic<double>(variant));
        return {};
    case DBUS_TYPE_STRING:
        dictionary.set(std::move(key), std::string(basic<const char*>(variant)));
        return {};
    case DBUS_TYPE_ARRAY:
        if (dbus_message_iter_get_element_type(variant) == DBUS_TYPE_BYTE) {
            DBusMessageIter bytes;
            dbus_message_iter_recurse(variant, &bytes);
            const char* data = nullptr;
            int length = 0;
            dbus_message_iter_get_fixed_array(&bytes, &data, &length);
            std::optional<Data> value = budget.admit(QByteArray(data, length));
            if (!value)
                return name + " (over the data limit of a message)";
            dictionary.set(std::move(key), std::move(*value));
            return {};
        }
        break;
    case DBUS_TYPE_UNIX_FD: {
        const int fd = basic<int>(variant); // a duplicate of our own
        QString why;
        std::optional<Data> value = budget.admitDescriptor(fd, &why);
        ::close(fd);
        if (!value)
            return name + " (" + why + ')';
        dictionary.set(std::move(key), std::move(*value));
        return {};
    }
    default:
        break;
    }
    char* signature = dbus_message_iter_get_signature(variant);
    const QString why = name + " (D-Bus type " + QString::fromLatin1(signature) + ')';
    dbus_free(signature);
    return why;
}

bool appendVariant(DBusMessageIter* entry, const QVariant& value) {
    const auto put = [entry](const char* signature, int type, const void* v) {
        DBusMessageIter variant;
        return dbus_message_iter_open_container(entry, DBUS_TYPE_VARIANT, signature, &variant) &&
               dbus_message_iter_append_basic(&variant, type, v) &&
               dbus_message_iter_close_container(entry, &variant);
    };
    switch (value.metaType().id()) {
    case QMetaType::ULongLong: {
        const dbus_uint64_t v = value.toULongLong();
        return put("t", DBUS_TYPE_UINT64, &v);
    }
    case QMetaType::LongLong: {
        const dbus_int64_t v = value.toLongLong();
        return put("x", DBUS_TYPE_INT64, &v);
    }
    case QMetaType::Bool: {
        const dbus_bool_t v = value.toBool();
        return put("b", DBUS_TYPE_BOOLEAN, &v);
    }
    case QMetaType::Double: {
        const double v = value.toDouble();
        return put("d", DBUS_TYPE_DOUBLE, &v);
    }
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        const char* v = utf8.constData();
        return put("s", DBUS_TYPE_STRING, &v);
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        const char* data = bytes.constData();
        DBusMessageIter variant;
        DBusMessageIter array;
        return dbus_message_iter_open_container(entry, DBUS_TYPE_VARIANT, "ay", &variant) &&
               dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "y", &array) &&
               dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_BYTE, &data, int(bytes.size())) &&
               dbus_message_iter_close_container(&variant, &array) &&
               dbus_message_iter_close_container(entry, &variant);
    }
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusUnixFileDescriptor>()) {
        const int fd = value.value<QDBusUnixFileDescriptor>().fileDescriptor(); // duplicated by libdbus
        return put("h", DBUS_TYPE_UNIX_FD, &fd);
    }
    return false;
}

} // namespace

void read(DBusMessageIter* iter, Dictionary& dictionary) {
    DBusMessageIter array;
    dbus_message_iter_recurse(iter, &array);
    DataBudget budget;
    QStringList dropped;
    for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&array)) {
        DBusMessageIter entry;
        DBusMessageIter variant;
        dbus_message_iter_recurse(&array, &entry);
        std::string key = basic<const char*>(&entry);
        dbus_message_iter_next(&entry);
        dbus_message_iter_recurse(&entry, &variant);
        if (QString why = readEntry(std::move(key), &variant, dictionary, budget); !why.isEmpty())
            dropped.append(why);
    }
    logDropped(dropped);
}

bool append(DBusMessageIter* iter, const QVariantMap& map) {
    DBusMessageIter array;
    if (!dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "{sv}", &array))
        return false;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        DBusMessageIter entry;
        const QByteArray key = it.key().toUtf8();
        const char* k = key.constData();
        if (!dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) ||
            !dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &k) ||
            !appendVariant(&entry, it.value()) || !dbus_message_iter_close_container(&array, &entry)) {
            dbus_message_iter_abandon_container_if_open(iter, &array);
            return false;
        }
    }
    return dbus_message_iter_close_container(iter, &array);
}

} // namespace xpc::wire
