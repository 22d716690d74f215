#include "xpc/Xpc.h"
#include "xpc/XpcWire.h"

#include <QDBusUnixFileDescriptor>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace xpc;

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
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int stalled = pipeEnds[0]; // with its writer open and silent, reads of it would wait for ever
    const int sealedAll = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW;
    const int unsealed = sparseMemfd(3, 0);
    const int writable = sparseMemfd(3, F_SEAL_SHRINK | F_SEAL_GROW);
    const int sealed = sparseMemfd(200 << 20, sealedAll);
    const int sealedBeyond = sparseMemfd(200 << 20, sealedAll);
    const int gigabyte = sparseMemfd(off_t(1) << 30, sealedAll);
    QVariantMap map;
    map.insert("id", QVariant::fromValue<qulonglong>(4));
    map.insert("int32", QVariant::fromValue<int>(5));
    map.insert("list", QStringList{"a"});
    map.insert("fifo", QVariant::fromValue(QDBusUnixFileDescriptor(stalled)));
    map.insert("unsealed", QVariant::fromValue(QDBusUnixFileDescriptor(unsealed)));
    map.insert("writable", QVariant::fromValue(QDBusUnixFileDescriptor(writable)));
    map.insert("gigabyte", QVariant::fromValue(QDBusUnixFileDescriptor(gigabyte)));
    // In key order: 40 + 200 MiB fit, the next 200 MiB and 40 MiB do not fit in the 16 MiB left.
    map.insert("a inline", QByteArray(40 << 20, 'a'));
    map.insert("b sealed", QVariant::fromValue(QDBusUnixFileDescriptor(sealed)));
    map.insert("c sealed", QVariant::fromValue(QDBusUnixFileDescriptor(sealedBeyond)));
    map.insert("d inline", QByteArray(40 << 20, 'd'));
    Dictionary d;
    wire::decode(QVariant::fromValue(map), d);
    EXPECT_EQ(d.getAs<uint64_t>("id"), 4u);
    ASSERT_TRUE(d.get("b sealed"));
    EXPECT_TRUE(std::get<Data>(*d.get("b sealed")).mapping);
    EXPECT_EQ(std::get<Data>(*d.get("b sealed")).bytes.size(), 200 << 20);
    EXPECT_EQ(d.data("a inline").size(), 40 << 20);
    EXPECT_EQ(d.count(), 3u) << d.description();
    wire::decode(QVariant::fromValue<int>(3), d); // not a dictionary at all
    EXPECT_EQ(d.count(), 3u);
    for (int fd : {stalled, pipeEnds[1], unsealed, writable, sealed, sealedBeyond, gigabyte})
        close(fd);
}
