#include "PropertyList.h"

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
