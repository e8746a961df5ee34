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

    QTemporaryDir dir;
    testing::LogCapture log{"com.tessamund.velmarin.settings"};
};

TEST_F(FixedPasswordTest, StaysInTheOwnerOnlyFileWithoutASecretServiceAndMovesIntoOneLater) {
    // The keyring lives as long as the process: start from an empty one.
    ASSERT_TRUE(secrets::SecretServiceStore().remove(FixedPasswordStorage::kAddress));
    // A server without one: nobody owns the name libsecret asks for. The
    // file is owner-only (the settings test checks that).
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.NoSecrets", 1);
    writePlainTextFile("k7m9-oud");
    {
        const auto settings = open();
        EXPECT_EQ(settings->fixedPassword(), "k7m9-oud");
        settings->setFixedPassword("r2s5-server");
    }
    EXPECT_EQ(inFile(), "r2s5-server");
    EXPECT_EQ(open()->fixedPassword(), "r2s5-server");
    EXPECT_EQ(inKeyring(), std::nullopt);

    // The Secret Service is back: the next start moves the password over.
    ::unsetenv("SECRET_SERVICE_BUS_NAME");
    EXPECT_EQ(open()->fixedPassword(), "r2s5-server");
    EXPECT_EQ(inKeyring(), "r2s5-server");
    EXPECT_FALSE(inFile().isValid()) << "still in plain text";

    const auto settings = open();
    EXPECT_EQ(settings->fixedPassword(), "r2s5-server");
    settings->setFixedPassword("p4q8-nieuw");
    EXPECT_EQ(inKeyring(), "p4q8-nieuw");
    EXPECT_FALSE(inFile().isValid());
    EXPECT_EQ(open()->fixedPassword(), "p4q8-nieuw");
    for (const QString& line : log.messages())
        for (const char* password : {"k7m9-oud", "r2s5-server", "p4q8-nieuw"})
            EXPECT_FALSE(line.contains(password)) << line.toStdString();
}

} // namespace
} // namespace velmarin
