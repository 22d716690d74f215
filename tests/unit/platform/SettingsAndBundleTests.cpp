#include "Bundle.h"
#include "LoginItems.h"
#include "ObjCFormat.h"
#include "PropertyList.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace glimra;

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>app.glimra.GlimraHelper</string>
  <key>CFBundleExecutable</key><string>GlimraHelper</string>
  <key>CFBundleShortVersionString</key><string>1.2.3</string>
  <key>CFBundleVersion</key><string>456</string>
</dict></plist>)";

// Every test gets a config home of its own.
class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", home.path().toUtf8()); }
    QTemporaryDir home;
};

} // namespace

TEST(ObjCFormat, FillsPlaceholdersInOrder) {
    EXPECT_EQ(stringWithFormat("%@ version %@ (%@)", QStringLiteral("Glimra Helper"), "1.0", 100),
              QStringLiteral("Glimra Helper version 1.0 (100)"));
    EXPECT_EQ(stringWithFormat("Error = %d, %ld%%", -9878, 7L), QStringLiteral("Error = -9878, 7%"));
    EXPECT_EQ(stringWithFormat("unknown error: %s", static_cast<const char*>(nullptr)),
              QStringLiteral("unknown error: (null)"));
    // Missing arguments leave the placeholder empty rather than reading past the list.
    EXPECT_EQ(stringWithFormat("a %@ b %@"), QStringLiteral("a  b "));
    EXPECT_EQ(stringWithFormat("trailing %"), QStringLiteral("trailing %"));
    EXPECT_TRUE(stringWithFormat("%p", reinterpret_cast<const void*>(0x1234)).startsWith("0x1234"));
}

TEST_F(UserDefaultsTest, RegisteredDefaultsSitUnderStoredValuesAndStayInMemory) {
    {
        UserDefaults defaults(QStringLiteral("test.domain"));
        EXPECT_FALSE(defaults.boolForKey("StartHelperAtLogin"));
        EXPECT_EQ(defaults.integerForKey("TimedScreenSnapDelaySeconds"), 0);
        defaults.registerDefaults(
            {{"StartHelperAtLogin", true}, {"TimedScreenSnapDelaySeconds", qlonglong(5)}});
        EXPECT_TRUE(defaults.boolForKey("StartHelperAtLogin"));
        EXPECT_EQ(defaults.integerForKey("TimedScreenSnapDelaySeconds"), 5);
        defaults.setInteger(9, "TimedScreenSnapDelaySeconds");
        defaults.setBool(false, "StartHelperAtLogin");
        EXPECT_FALSE(defaults.boolForKey("StartHelperAtLogin"));
        EXPECT_TRUE(defaults.filePath().startsWith(home.path() + "/glimra/"));
    }
    // A new process sees what was set, not what was registered.
    UserDefaults again(QStringLiteral("test.domain"));
    EXPECT_EQ(again.integerForKey("TimedScreenSnapDelaySeconds"), 9);
    EXPECT_FALSE(again.boolForKey("StartHelperAtLogin"));
    again.setBool(true, "StartHelperAtLogin");
    EXPECT_TRUE(UserDefaults(QStringLiteral("test.domain")).boolForKey("StartHelperAtLogin"));
}

TEST_F(UserDefaultsTest, ValuesOfTheWrongKindReadAsFalseAndZero) {
    writeFile(home.path() + "/glimra/test.domain.conf",
              "[General]\nStartHelperAtLogin=banana\nTimedScreenSnapDelaySeconds=soon\nOther=yes\nNum=3.7\n");
    UserDefaults defaults(QStringLiteral("test.domain"));
    EXPECT_FALSE(defaults.boolForKey("StartHelperAtLogin"));
    EXPECT_EQ(defaults.integerForKey("TimedScreenSnapDelaySeconds"), 0);
    EXPECT_TRUE(defaults.boolForKey("Other"));
    EXPECT_EQ(defaults.integerForKey("Num"), 3);
}

TEST(Bundle, ReadsInfoPlistAndResources) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Moved Folder/GlimraHelper.app";
    writeFile(path + "/Contents/Info.plist", kInfoPlist);
    writeFile(path + "/Contents/Resources/HelperUserDefaults.plist", "<plist/>");
    const Bundle bundle(path);
    EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("app.glimra.GlimraHelper"));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion").toString(), QStringLiteral("456"));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").toString(),
              QStringLiteral("1.2.3"));
    EXPECT_EQ(bundle.executablePath(), path + "/Contents/MacOS/GlimraHelper");
    EXPECT_EQ(bundle.pathForResource("HelperUserDefaults", "plist"),
              path + "/Contents/Resources/HelperUserDefaults.plist");
    EXPECT_TRUE(bundle.pathForResource("Missing", "plist").isEmpty());
    EXPECT_TRUE(bundle.pathForResource("../Info", "plist").isEmpty());
}

TEST(Bundle, MissingOrBrokenInfoPlistGivesAnEmptyDictionary) {
    QTemporaryDir dir;
    EXPECT_TRUE(Bundle(dir.path() + "/Nothing.app").infoDictionary().isEmpty());
    writeFile(dir.path() + "/Broken.app/Contents/Info.plist", kInfoPlist.left(kInfoPlist.size() / 2));
    const Bundle broken(dir.path() + "/Broken.app");
    EXPECT_TRUE(broken.infoDictionary().isEmpty());
    EXPECT_TRUE(broken.executablePath().isEmpty());
    writeFile(dir.path() + "/Array.app/Contents/Info.plist", "<plist><array/></plist>");
    EXPECT_TRUE(Bundle(dir.path() + "/Array.app").bundleIdentifier().isEmpty());
}

TEST(Bundle, FindsTheBundleOfAnExecutable) {
    EXPECT_EQ(Bundle::bundlePathForExecutable("/a/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app/"
                                              "Contents/MacOS/GlimraHelper"),
              QStringLiteral("/a/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app"));
    EXPECT_FALSE(Bundle::bundlePathForExecutable("/usr/bin/GlimraHelper"));
    EXPECT_FALSE(Bundle::bundlePathForExecutable("/x/MacOS/GlimraHelper"));
}

TEST(LoginItems, AnAutostartEntryIsEnabledUnlessHidden) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/app.glimra.GlimraHelper.desktop";
    EXPECT_FALSE(isAutostartEntryEnabled(path));
    writeFile(path, "[Desktop Entry]\nType=Application\nExec=GlimraHelper\n");
    EXPECT_TRUE(isAutostartEntryEnabled(path));
    writeFile(path, "[Desktop Entry]\nHidden = true\n");
    EXPECT_FALSE(isAutostartEntryEnabled(path));
    writeFile(path, "[Desktop Entry]\nHidden=false\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(isAutostartEntryEnabled(path));
    writeFile(path, "[Desktop Entry]\nHiddenX=true\n");
    EXPECT_TRUE(isAutostartEntryEnabled(path));
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(autostartEntryPath("app.glimra.GlimraHelper"),
              dir.path() + "/autostart/app.glimra.GlimraHelper.desktop");
}
