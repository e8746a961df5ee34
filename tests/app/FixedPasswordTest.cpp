// The fixed password at rest, with the real Secret Service (a GNOME Keyring
// that with-keyring starts for this process) read back by secret-tool.

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "secrets/SecretServiceStore.h"
#include "support/keyring/Keyring.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace velmarin {
namespace {

namespace keyring = testing::keyring;

class FixedPasswordTest : public ::testing::Test {
protected:
    // The keyring lives as long as the process: start from an empty one.
    void SetUp() override {
        ::unsetenv("SECRET_SERVICE_BUS_NAME");
        ASSERT_TRUE(secrets::SecretServiceStore().remove(FixedPasswordStorage::kAddress));
    }
    QString file() const { return dir.filePath("Tessamund/Velmarin.ini"); }
    std::unique_ptr<AppSettings> open() {
        return std::make_unique<AppSettings>(file(), nullptr,
                                             std::make_unique<secrets::SecretServiceStore>());
    }
    // A settings file as versions before the Secret Service wrote it.
    void writePlainTextFile(const QString& password) {
        QSettings raw(file(), QSettings::IniFormat);
        raw.setValue("useFixedCredentials", true);
        raw.setValue("fixedPassword", password);
    }
    QVariant inFile() const {
        return QSettings(file(), QSettings::IniFormat).value("fixedPassword");
    }
    std::optional<std::string> inKeyring() const {
        return keyring::lookup(FixedPasswordStorage::kAddress.service,
                               FixedPasswordStorage::kAddress.account);
    }
    void expectNoLineShows(const QString& password) const {
        for (const QString& line : log.messages())
            EXPECT_FALSE(line.contains(password)) << line.toStdString();
    }

    QTemporaryDir dir;
    testing::LogCapture log{"com.tessamund.velmarin.settings"};
};

TEST_F(FixedPasswordTest, APlainTextPasswordMovesIntoTheSecretService) {
    writePlainTextFile("k7m9-oud");
    EXPECT_EQ(open()->fixedPassword(), "k7m9-oud");
    EXPECT_FALSE(inFile().isValid()) << "still in plain text";
    EXPECT_EQ(inKeyring(), "k7m9-oud");

    const auto settings = open();
    EXPECT_EQ(settings->fixedPassword(), "k7m9-oud");
    settings->setFixedPassword("p4q8-nieuw");
    EXPECT_EQ(inKeyring(), "p4q8-nieuw");
    EXPECT_FALSE(inFile().isValid());
    EXPECT_EQ(open()->fixedPassword(), "p4q8-nieuw");
    expectNoLineShows("k7m9-oud");
    expectNoLineShows("p4q8-nieuw");
}

TEST_F(FixedPasswordTest, WithoutASecretServiceItStaysInTheOwnerOnlyFileUntilOneAnswers) {
    // A server without one: nobody owns the name libsecret asks for.
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.NoSecrets", 1);
    writePlainTextFile("k7m9-oud");
    {
        const auto settings = open();
        EXPECT_EQ(settings->fixedPassword(), "k7m9-oud");
        settings->setFixedPassword("r2s5-server");
    }
    // The file is owner-only (the settings test checks that).
    EXPECT_EQ(inFile(), "r2s5-server");
    EXPECT_EQ(open()->fixedPassword(), "r2s5-server");
    EXPECT_EQ(inKeyring(), std::nullopt);

    // The Secret Service is back: the next start moves the password over.
    ::unsetenv("SECRET_SERVICE_BUS_NAME");
    EXPECT_EQ(open()->fixedPassword(), "r2s5-server");
    EXPECT_EQ(inKeyring(), "r2s5-server");
    EXPECT_FALSE(inFile().isValid());
    expectNoLineShows("r2s5-server");
}

} // namespace
} // namespace velmarin
