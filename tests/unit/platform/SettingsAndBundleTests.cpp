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

TEST_F(UserDefaultsTest, ValuesOfTheWrongKindReadAsFalseAndZero) {
    writeFile(home.path() + "/glimra/test.domain.conf",
              "[General]\nStartHelperAtLogin=banana\nTimedScreenSnapDelaySeconds=soon\nOther=yes\nNum=3.7\n");
    UserDefaults defaults(QStringLiteral("test.domain"));
    EXPECT_FALSE(defaults.boolForKey("StartHelperAtLogin"));
    EXPECT_EQ(defaults.integerForKey("TimedScreenSnapDelaySeconds"), 0);
    EXPECT_TRUE(defaults.boolForKey("Other"));
    EXPECT_EQ(defaults.integerForKey("Num"), 3);
}

// Values that cannot be saved say so in one line, and why; they hold for the rest of the run. Values
// that are saved say nothing and are there for the next run.
struct SettingsFolder {
    const char* name;
    const char* fileInTheWay; // relative to the test's home, which XDG_CONFIG_HOME names unless...
    const char* configHome;   // ...this is given
    const char* said;         // nullptr: saved, nothing said
};

class UnsavedSetting : public UserDefaultsTest, public ::testing::WithParamInterface<SettingsFolder> {};

TEST_P(UnsavedSetting, IsLoggedWithItsCause) {
    const SettingsFolder& folder = GetParam();
    if (folder.fileInTheWay)
        writeFile(home.path() + "/" + folder.fileInTheWay, "not a folder");
    if (folder.configHome)
        qputenv("XDG_CONFIG_HOME", (home.path() + "/" + folder.configHome).toUtf8());
    {
        UserDefaults defaults(QStringLiteral("test.domain"));
        testing::internal::CaptureStderr();
        defaults.setInteger(7, "TimedScreenSnapDelaySeconds");
        defaults.setBool(true, "StartHelperAtLogin");
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_TRUE(defaults.boolForKey("StartHelperAtLogin"));
        // One line, for the first setting, with its cause; nothing at all when saved.
        const int lines = folder.said ? 1 : 0;
        EXPECT_EQ(said.isEmpty(), !folder.said) << said.toStdString();
        EXPECT_EQ(said.count(QStringLiteral("Could not save")), lines);
        EXPECT_EQ(said.count(QStringLiteral("Could not save the setting TimedScreenSnapDelaySeconds in ")),
                  lines);
        EXPECT_TRUE(!folder.said || said.contains(QString::fromUtf8(folder.said).arg(home.path())));
    }
    EXPECT_EQ(UserDefaults(QStringLiteral("test.domain")).integerForKey("TimedScreenSnapDelaySeconds"),
              folder.said ? 0 : 7);
}

INSTANTIATE_TEST_SUITE_P(UserDefaultsTest, UnsavedSetting,
                         ::testing::Values(SettingsFolder{"Saved", nullptr, nullptr, nullptr},
                                           SettingsFolder{"ConfigHomeIsAFile", "config", "config",
                                                          "%1/config is a file, not a folder"},
                                           SettingsFolder{"SettingsFolderIsAFile", "glimra", nullptr,
                                                          "%1/glimra is a file, not a folder"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Resources stay inside the bundle; a missing or broken Info.plist gives an empty dictionary.
TEST(Bundle, ReadsInfoPlistAndResourcesAndSurvivesBrokenOnes) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Moved Folder/GlimraHelper.app";
    writeFile(path + "/Contents/Info.plist", kInfoPlist);
    writeFile(path + "/Contents/Resources/HelperUserDefaults.plist", "<plist/>");
    const Bundle bundle(path);
    EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("app.glimra.GlimraHelper"));
    EXPECT_EQ(bundle.executablePath(), path + "/Contents/MacOS/GlimraHelper");
    EXPECT_EQ(bundle.pathForResource("HelperUserDefaults", "plist"),
              path + "/Contents/Resources/HelperUserDefaults.plist");
    EXPECT_TRUE(bundle.pathForResource("../Info", "plist").isEmpty());

    writeFile(dir.path() + "/Broken.app/Contents/Info.plist", kInfoPlist.left(kInfoPlist.size() / 2));
    EXPECT_TRUE(Bundle(dir.path() + "/Broken.app").infoDictionary().isEmpty());
    EXPECT_TRUE(Bundle(dir.path() + "/Broken.app").executablePath().isEmpty());
    writeFile(dir.path() + "/Array.app/Contents/Info.plist", "<plist><array/></plist>");
    EXPECT_TRUE(Bundle(dir.path() + "/Array.app").bundleIdentifier().isEmpty());

    EXPECT_EQ(Bundle::bundlePathForExecutable("/a/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app/"
                                              "Contents/MacOS/GlimraHelper"),
              "/a/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app");
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
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(autostartEntryPath("app.glimra.GlimraHelper"),
              dir.path() + "/autostart/app.glimra.GlimraHelper.desktop");
}
