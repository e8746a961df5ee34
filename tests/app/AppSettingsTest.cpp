#include "app/AppSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace velmarin {
namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    QString settingsFile() const { return dir.filePath("Tessamund/Velmarin.ini"); }
    QString autostartFile() const { return dir.filePath("autostart/velmarin.desktop"); }
    std::unique_ptr<AppSettings> open() {
        return std::make_unique<AppSettings>(
            settingsFile(),
            std::make_unique<XdgAutostartLoginItem>(autostartFile(), "/opt/Vel marin/velmarin"));
    }

    QTemporaryDir dir;
};

TEST_F(AppSettingsTest, ChangesAreStoredAtOnceUnderTheirKeysOwnerOnly) {
    // It holds credentials: nobody but the owner may read it, also when a
    // value written without an AppSettings (a restore token) creates it.
    const auto mode = [&] {
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(settingsFile()).constData(), &info), 0);
        return info.st_mode & 0777;
    };
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    ASSERT_EQ(AppSettings::userFile(), settingsFile());
    QSettings(AppSettings::userFile(), QSettings::IniFormat).setValue("waylandRestoreToken", "t");
    EXPECT_EQ(mode(), 0600u);
    {
        const auto settings = open();
        int signals_ = 0;
        QObject::connect(settings.get(), &AppSettings::fixedIDChanged, [&] { ++signals_; });
        settings->setUseFixedCredentials(true);
        settings->setFixedPassword("k7m9pq");
        settings->setFixedID("123456789");
        settings->setFixedID("123456789");
        settings->setAutoStartHosting(true);
        EXPECT_EQ(signals_, 1);

        // Written through already, before this object goes away.
        QSettings raw(settingsFile(), QSettings::IniFormat);
        EXPECT_EQ(raw.value("useFixedCredentials").toBool(), true);
        EXPECT_EQ(raw.value("fixedPassword").toString(), "k7m9pq");
        EXPECT_EQ(raw.value("fixedID").toString(), "123456789");
        EXPECT_EQ(raw.value("autoStartHosting").toBool(), true);
        EXPECT_FALSE(raw.contains("preferredQuality"));
        EXPECT_EQ(mode(), 0600u);
    }
    QSettings(settingsFile(), QSettings::IniFormat).setValue("preferredQuality", "low");
    const auto reopened = open();
    EXPECT_TRUE(reopened->useFixedCredentials());
    EXPECT_EQ(reopened->fixedPassword(), "k7m9pq");
    EXPECT_EQ(reopened->fixedID(), "123456789");
    EXPECT_TRUE(reopened->autoStartHosting());
    EXPECT_TRUE(reopened->isUnattended());
    EXPECT_EQ(reopened->preferredQuality(), "low");
}

TEST_F(AppSettingsTest, LaunchAtLoginWritesAndRemovesTheAutostartEntryOrFlipsTheSwitchBack) {
    auto settings = open();
    QList<bool> seen;
    QObject::connect(settings.get(), &AppSettings::launchAtLoginChanged,
                     [&](bool value) { seen.push_back(value); });

    // A file where the autostart folder should be: the entry cannot be
    // written (also not as root).
    QFile blocker(dir.filePath("autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings->setLaunchAtLogin(true);
    EXPECT_FALSE(settings->launchAtLogin());
    EXPECT_EQ(seen, (QList<bool>{true, false}));
    // The attempt itself is stored; the next start asks the entry again.
    EXPECT_TRUE(QSettings(settingsFile(), QSettings::IniFormat).value("launchAtLogin").toBool());
    EXPECT_FALSE(open()->launchAtLogin());

    ASSERT_TRUE(blocker.remove());
    settings->setLaunchAtLogin(true);
    EXPECT_TRUE(settings->launchAtLogin());
    QFile entry(autostartFile());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Vel marin/velmarin\" --login-item\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nType=Application\n"));

    // The next start reads the state from the entry itself.
    settings = open();
    EXPECT_TRUE(settings->launchAtLogin());
    settings->setLaunchAtLogin(false);
    EXPECT_FALSE(QFileInfo::exists(autostartFile()));
    EXPECT_FALSE(open()->launchAtLogin());
}

} // namespace
} // namespace velmarin
