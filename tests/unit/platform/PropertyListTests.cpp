#include "PropertyList.h"

#include <QDateTime>
#include <gtest/gtest.h>

using glimra::parsePropertyList;

namespace {

QByteArray plist(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">" +
           body + "</plist>\n";
}

} // namespace

TEST(PropertyList, ReadsEveryValueTypeWithItsType) {
    const auto value = parsePropertyList(plist(R"(
      <dict>
        <key>flag</key><true/>
        <key>off</key><false/>
        <key>count</key><integer>-42</integer>
        <key>big</key><integer>9007199254740993</integer>
        <key>ratio</key><real>2.5</real>
        <key>name</key><string>Gl&amp;imra ✓</string>
        <key>blob</key><data>AAEC/w==</data>
        <key>when</key><date>2026-12-05T10:00:00Z</date>
        <key>list</key><array><integer>1</integer><string>two</string><dict/></array>
        <key>empty</key><string></string>
      </dict>)"));
    ASSERT_TRUE(value);
    const QVariantMap map = value->toMap();
    EXPECT_EQ(map["flag"].typeId(), QMetaType::Bool);
    EXPECT_TRUE(map["flag"].toBool());
    EXPECT_FALSE(map["off"].toBool());
    EXPECT_EQ(map["count"].typeId(), QMetaType::LongLong);
    EXPECT_EQ(map["count"].toLongLong(), -42);
    EXPECT_EQ(map["big"].toLongLong(), 9007199254740993LL);
    EXPECT_DOUBLE_EQ(map["ratio"].toDouble(), 2.5);
    EXPECT_EQ(map["name"].toString(), QStringLiteral("Gl&imra ✓"));
    EXPECT_EQ(map["blob"].toByteArray(), QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_EQ(map["when"].toDateTime(), QDateTime(QDate(2026, 12, 5), QTime(10, 0), Qt::UTC));
    const QVariantList list = map["list"].toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[1].toString(), QStringLiteral("two"));
    EXPECT_EQ(list[2].typeId(), QMetaType::QVariantMap);
    EXPECT_TRUE(map.contains("empty"));
}

TEST(PropertyList, RejectsMalformedDocuments) {
    const QByteArray broken[] = {
        "",
        "not xml at all",
        plist("<dict><key>a</key><true/>"),                       // unterminated
        plist("<dict><key>a</key></dict>"),                       // key without value
        plist("<dict><string>x</string><true/></dict>"),          // value without key
        plist("<dict><key>n</key><integer>12x</integer></dict>"), // bad number
        plist("<dict><key>r</key><real>abc</real></dict>"),
        plist("<dict/><dict/>"), // two top-level values
        plist("<frobnicate/>"),
        "<?xml version=\"1.0\"?><notaplist><dict/></notaplist>",
        plist(QByteArray(300, '[').replace('[', "<array>") + QByteArray(300, ']').replace(']', "</array>")),
    };
    for (const QByteArray& xml : broken) {
        QString error;
        EXPECT_FALSE(parsePropertyList(xml, &error)) << xml.left(120).constData();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(PropertyList, DictionaryReaderWantsADictionaryFile) {
    QString error;
    EXPECT_FALSE(glimra::readPropertyListDictionary("/nonexistent/HelperUserDefaults.plist", &error));
    EXPECT_FALSE(error.isEmpty());
}
