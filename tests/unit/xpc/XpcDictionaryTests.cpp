#include "xpc/Xpc.h"
#include "xpc/XpcWire.h"

#include <QCoreApplication>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <mutex>

using namespace xpc;

namespace {

QByteArray pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131) >> 3);
    return bytes;
}

bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

} // namespace

TEST(XpcDictionary, GettersAreStrictAboutTypesAndAbsentKeys) {
    xpc_object_t d = xpc_dictionary_create();
    EXPECT_EQ(xpc_get_type(d), xpc_type_t::Dictionary);
    xpc_dictionary_set_uint64(d, "id", std::numeric_limits<uint64_t>::max());
    xpc_dictionary_set_int64(d, "int64", -7);
    xpc_dictionary_set_bool(d, "bool", true);
    xpc_dictionary_set_double(d, "double", 2.5);
    xpc_dictionary_set_string(d, "title", "Screenshot");
    xpc_dictionary_set_data(d, "PNGData", "\x89PNG", 4);
    EXPECT_EQ(xpc_dictionary_get_count(d), 6u);

    EXPECT_EQ(xpc_dictionary_get_uint64(d, "id"), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(xpc_dictionary_get_int64(d, "int64"), -7);
    EXPECT_TRUE(xpc_dictionary_get_bool(d, "bool"));
    EXPECT_EQ(xpc_dictionary_get_double(d, "double"), 2.5);
    EXPECT_EQ(xpc_dictionary_get_string(d, "title"), "Screenshot");
    EXPECT_EQ(xpc_dictionary_get_data(d, "PNGData"), QByteArray("\x89PNG"));

    // A value of another type reads as the getter's empty value, never converted.
    EXPECT_EQ(xpc_dictionary_get_int64(d, "id"), 0);
    EXPECT_EQ(xpc_dictionary_get_uint64(d, "int64"), 0u);
    EXPECT_EQ(xpc_dictionary_get_uint64(d, "bool"), 0u);
    EXPECT_FALSE(xpc_dictionary_get_bool(d, "id"));
    EXPECT_EQ(xpc_dictionary_get_double(d, "int64"), 0.0);
    EXPECT_EQ(xpc_dictionary_get_string(d, "PNGData"), "");
    EXPECT_TRUE(xpc_dictionary_get_data(d, "title").isEmpty());
    size_t length = 99;
    EXPECT_EQ(xpc_dictionary_get_data(d, "title", &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(xpc_dictionary_get_data(d, "PNGData", &length), nullptr);
    EXPECT_EQ(length, 4u);

    EXPECT_EQ(xpc_dictionary_get_uint64(d, "absent"), 0u);
    EXPECT_FALSE(xpc_dictionary_get_bool(d, nullptr));

    // Setting again replaces value and type.
    xpc_dictionary_set_string(d, "id", std::string("twelve\0hidden", 13));
    EXPECT_EQ(xpc_dictionary_get_uint64(d, "id"), 0u);
    EXPECT_EQ(xpc_dictionary_get_string(d, "id"), "twelve"); // a C string ends at its NUL
    xpc_dictionary_set_string(d, "title", static_cast<const char*>(nullptr));
    EXPECT_EQ(xpc_dictionary_get_string(d, "title"), "Screenshot");
}

TEST(XpcDictionary, MisuseOfObjectsIsHarmless) {
    xpc_object_t nothing;
    EXPECT_EQ(xpc_get_type(nothing), xpc_type_t::Null);
    xpc_dictionary_set_uint64(nothing, "id", 1);
    EXPECT_EQ(xpc_dictionary_get_uint64(nothing, "id"), 0u);
    EXPECT_EQ(xpc_dictionary_create_reply(nothing), nullptr);
    EXPECT_EQ(xpc_copy_description(nothing), "<null>");

    // Setters on an error object do nothing; error constants are distinct objects.
    xpc_dictionary_set_uint64(XPC_ERROR_CONNECTION_INVALID, "id", 1);
    EXPECT_EQ(xpc_get_type(XPC_ERROR_CONNECTION_INVALID), xpc_type_t::Error);
    EXPECT_NE(XPC_ERROR_CONNECTION_INVALID, XPC_ERROR_CONNECTION_INTERRUPTED);
    EXPECT_NE(xpc_copy_description(XPC_ERROR_TERMINATION_IMMINENT).find("Termination imminent"),
              std::string::npos);

    // A locally made dictionary expects no reply and belongs to no connection.
    xpc_object_t d = xpc_dictionary_create();
    EXPECT_EQ(xpc_dictionary_create_reply(d), nullptr);
    EXPECT_EQ(xpc_dictionary_get_remote_connection(d), nullptr);
    xpc_connection_send_message(nothing, d);
    xpc_connection_send_message(d, nothing);
    xpc_connection_resume(d);
    xpc_connection_cancel(nothing);
    EXPECT_EQ(xpc_connection_get_name(d), "");

    // Descriptions stay short however large the values.
    xpc_dictionary_set_string(d, "title", std::string(10 * 1024 * 1024, 'x'));
    xpc_dictionary_set_data(d, "PNGData", pattern(1000));
    const std::string text = xpc_copy_description(d);
    EXPECT_LT(text.size(), 1000u);
    EXPECT_NE(text.find("\"PNGData\" => <data: 1000 bytes>"), std::string::npos);
}

TEST(XpcWire, EncodesEachTypeWithItsOwnBusType) {
    Dictionary d;
    d.set("u", uint64_t(12));
    d.set("i", int64_t(-12));
    d.set("b", false);
    d.set("f", 0.5);
    d.set("s", std::string("Grüße"));
    const auto map = wire::encode(d, true);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value("u").metaType(), QMetaType::fromType<qulonglong>());
    EXPECT_EQ(map->value("i").metaType(), QMetaType::fromType<qlonglong>());
    EXPECT_EQ(map->value("b").metaType(), QMetaType::fromType<bool>());
    EXPECT_EQ(map->value("f").metaType(), QMetaType::fromType<double>());
    EXPECT_EQ(map->value("s").toString(), QString::fromUtf8("Grüße"));

    Dictionary back;
    wire::decode(QVariant::fromValue(*map), back);
    EXPECT_EQ(back.getAs<uint64_t>("u"), 12u);
    EXPECT_EQ(back.getAs<int64_t>("i"), -12);
    EXPECT_EQ(back.getAs<std::string>("s"), "Grüße");
    EXPECT_EQ(back.count(), 5u);
}

TEST(XpcWire, DataIsInlineUpTo64KiBThenASealedMemfd) {
    Dictionary d;
    const QByteArray atLimit = pattern(wire::kInlineDataLimit);
    const QByteArray aboveLimit = pattern(wire::kInlineDataLimit + 1);
    d.setData("small", atLimit);
    d.setData("large", aboveLimit);
    d.setData("empty", QByteArray());

    auto map = wire::encode(d, true);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value("small").metaType(), QMetaType::fromType<QByteArray>());
    EXPECT_EQ(map->value("empty").metaType(), QMetaType::fromType<QByteArray>());
    ASSERT_EQ(map->value("large").metaType(), QMetaType::fromType<QDBusUnixFileDescriptor>());
    const int fd = map->value("large").value<QDBusUnixFileDescriptor>().fileDescriptor();
    const int seals = fcntl(fd, F_GET_SEALS);
    EXPECT_EQ(seals & (F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW),
              F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW);
    EXPECT_EQ(write(fd, "x", 1), -1); // sealed: nobody changes the data in flight

    Dictionary back;
    wire::decode(QVariant::fromValue(*map), back);

    // Without descriptor passing large data stays inline.
    map = wire::encode(d, false); // the descriptor sent before is closed now
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value("large").metaType(), QMetaType::fromType<QByteArray>());

    // The received sealed memfd is mapped, not copied, and outlives the descriptor.
    EXPECT_TRUE(std::get<Data>(*back.get("large")).mapping);
    EXPECT_EQ(back.data("large"), aboveLimit);
    EXPECT_EQ(back.data("small"), atLimit);
}

TEST(XpcWire, WhatCannotTravelIsDroppedNotSent) {
    Dictionary d;
    d.set("id", uint64_t(8));
    d.setData("huge", QByteArray(wire::kMaxByteArray + 1, 'x'));
    auto map = wire::encode(d, false); // an array this long would abort libdbus
    ASSERT_TRUE(map);
    EXPECT_FALSE(map->contains("huge"));
    EXPECT_TRUE(map->contains("id"));

    Dictionary tooLarge;
    tooLarge.set("a", std::string(wire::kMaxMessageBytes / 2, 'a'));
    tooLarge.set("b", std::string(wire::kMaxMessageBytes / 2, 'b'));
    EXPECT_FALSE(wire::encode(tooLarge, true));
}

// A memfd of size bytes (sparse: free to make) with the given seals.
static int sparseMemfd(off_t size, int seals) {
    const int fd = memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    EXPECT_EQ(ftruncate(fd, size), 0);
    EXPECT_EQ(fcntl(fd, F_ADD_SEALS, seals), 0);
    return fd;
}

TEST(XpcWire, DecodingTakesOnlySealedMemfdsAndAtMost256MiBOfData) {
    const char* fifo = "/tmp/glimra-xpc-wire-test.fifo";
    unlink(fifo);
    ASSERT_EQ(mkfifo(fifo, 0600), 0);
    const int stalled = open(fifo, O_RDWR); // reads of it would wait for ever
    unlink(fifo);
    const int sealedAll = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW;
    const int unsealed = sparseMemfd(3, 0);
    const int writable = sparseMemfd(3, F_SEAL_SHRINK | F_SEAL_GROW);
    const int sealed = sparseMemfd(200 << 20, sealedAll);
    const int gigabyte = sparseMemfd(off_t(1) << 30, sealedAll);
    QVariantMap map;
    map.insert("id", QVariant::fromValue<qulonglong>(4));
    map.insert("int32", QVariant::fromValue<int>(5));
    map.insert("list", QStringList{"a"});
    map.insert("fifo", QVariant::fromValue(QDBusUnixFileDescriptor(stalled)));
    map.insert("unsealed", QVariant::fromValue(QDBusUnixFileDescriptor(unsealed)));
    map.insert("writable", QVariant::fromValue(QDBusUnixFileDescriptor(writable)));
    map.insert("gigabyte", QVariant::fromValue(QDBusUnixFileDescriptor(gigabyte)));
    map.insert("a sealed", QVariant::fromValue(QDBusUnixFileDescriptor(sealed)));
    map.insert("b inline", QByteArray(40 << 20, 'b'));
    map.insert("c inline", QByteArray(40 << 20, 'c')); // 280 MiB with the others: over the limit
    Dictionary d;
    wire::decode(QVariant::fromValue(map), d);
    EXPECT_EQ(d.getAs<uint64_t>("id"), 4u);
    ASSERT_TRUE(d.get("a sealed"));
    EXPECT_TRUE(std::get<Data>(*d.get("a sealed")).mapping);
    EXPECT_EQ(std::get<Data>(*d.get("a sealed")).bytes.size(), 200 << 20);
    EXPECT_EQ(d.data("b inline").size(), 40 << 20);
    EXPECT_EQ(d.count(), 3u) << d.description();
    wire::decode(QVariant::fromValue<int>(3), d); // not a dictionary at all
    EXPECT_EQ(d.count(), 3u);
    for (int fd : {stalled, unsealed, writable, sealed, gigabyte})
        close(fd);
}

TEST(XpcConnection, EventsWaitForResumeAndInvalidIsLastAndReleasesTheHandler) {
    auto queue = dispatch::dispatch_queue_create("test.events");
    auto connection = std::make_shared<Connection>(Connection::Kind::Peer, "app.example", queue);
    std::mutex mutex;
    std::vector<xpc_object_t> events;
    auto handlerCaptures = std::make_shared<int>(0);
    // The handler holds its connection, as a server's peer handler does: a cycle until the end.
    xpc_connection_set_event_handler(connection, [&, connection, handlerCaptures](xpc_object_t e) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(e));
    });
    auto message = xpc_dictionary_create();
    connection->deliver(message);
    connection->deliver(XPC_ERROR_CONNECTION_INTERRUPTED);
    connection->deliver(XPC_ERROR_CONNECTION_INVALID);
    connection->deliver(xpc_dictionary_create()); // after the end: never delivered
    dispatch::dispatch_sync(queue, [] {});
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(handlerCaptures.use_count(), 2);

    xpc_connection_resume(connection);
    dispatch::dispatch_sync(queue, [] {});
    std::lock_guard lock(mutex);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], message);
    EXPECT_EQ(events[1], XPC_ERROR_CONNECTION_INTERRUPTED);
    EXPECT_EQ(events[2], XPC_ERROR_CONNECTION_INVALID);
    EXPECT_EQ(handlerCaptures.use_count(), 1);
}

TEST(XpcConnection, WithoutTargetQueueEventsUseTheOneDefaultQueue) {
    auto a = std::make_shared<Connection>(Connection::Kind::Peer, "a", nullptr);
    auto b = std::make_shared<Connection>(Connection::Kind::Peer, "b", nullptr);
    std::atomic<int> onDefault{0};
    std::atomic<int> onMain{0};
    auto handler = [&](xpc_object_t) {
        if (defaultTargetQueue()->isCurrent())
            ++onDefault;
        if (dispatch::dispatch_get_main_queue()->isCurrent())
            ++onMain;
    };
    xpc_connection_set_event_handler(a, handler);
    xpc_connection_set_event_handler(b, handler);
    xpc_connection_resume(a);
    xpc_connection_resume(b);
    a->deliver(xpc_dictionary_create());
    b->deliver(xpc_dictionary_create());
    xpc_connection_set_target_queue(b, dispatch::dispatch_get_main_queue());
    b->deliver(xpc_dictionary_create());
    EXPECT_TRUE(spinUntil([&] { return onDefault == 2 && onMain == 1; }));
}
