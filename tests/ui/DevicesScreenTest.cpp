// The devices tab on a private Xvfb with a real keyring: the form's rules,
// presence following the book, renaming and deleting in place, connecting
// with and without a stored password.

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/PresenceManager.h"
#include "devices/DeviceBookManager.h"
#include "devices/DeviceConnect.h"
#include "devices/Keychain.h"
#include "secrets/SecretServiceStore.h"
#include "ui/devices/DevicesView.h"
#include "ui/devices/RelativeTime.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace velmarin::ui {
namespace {

class DevicesScreen : public ::testing::Test {
protected:
    DevicesScreen() {
        view.resize(560, 480);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    template <class W = QWidget> W* child(const QString& name) {
        return view.findChild<W*>(name);
    }
    QLineEdit* field(const QString& placeholder) {
        for (QLineEdit* edit : view.findChildren<QLineEdit*>())
            if (edit->placeholderText() == placeholder)
                return edit;
        return nullptr;
    }
    QPushButton* button(const QString& text) {
        for (QPushButton* candidate : view.findChildren<QPushButton*>())
            if (candidate->text() == text && candidate->isVisible())
                return candidate;
        return nullptr;
    }
    void add(const QString& name, const QString& id, const QString& password) {
        QTest::mouseClick(child<QPushButton>("formButton"), Qt::LeftButton);
        QTest::keyClicks(field("Naam (bijv. Kantoor-iMac)"), name);
        QTest::keyClicks(field("Partner ID"), id);
        QTest::keyClicks(field("Vast wachtwoord"), password);
        QTest::keyClick(field("Vast wachtwoord"), Qt::Key_Return);
        // New rows show from the event loop.
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    QSettings store{dir.filePath("velmarin.conf"), QSettings::IniFormat};
    secrets::SecretServiceStore secrets;
    devices::DeviceBookManager book{store, secrets};
    ConnectionState state;
    CommandBus commands;
    QSignalSpy posted{&commands, &CommandBus::posted};
    // Nobody answers there; the screen's side of presence is what counts.
    PresenceManager presence{"wss://127.0.0.1:1", std::chrono::hours(1)};
    DevicesView view{state, commands, book, presence, secrets};
};

TEST_F(DevicesScreen, TheFormSavesOnlyWithNineDigitsAndAPassword) {
    EXPECT_TRUE(child("emptyState")->isVisible());
    QTest::mouseClick(child<QPushButton>("formButton"), Qt::LeftButton);
    EXPECT_EQ(child<QPushButton>("formButton")->text(), QStringLiteral("Annuleer"));
    // The ID field's grouping is ConnectScreenTest's (the same field).
    QTest::keyClicks(field("Partner ID"), QStringLiteral("12345678"));
    QTest::keyClicks(field("Vast wachtwoord"), QStringLiteral("geheim"));
    EXPECT_FALSE(view.isFormValid());
    EXPECT_FALSE(button("Opslaan")->isEnabled());
    QTest::keyClicks(field("Partner ID"), QStringLiteral("9"));
    EXPECT_TRUE(button("Opslaan")->isEnabled()); // no name needed

    QTest::mouseClick(button("Opslaan"), Qt::LeftButton);
    EXPECT_FALSE(child("addForm")->isVisible());
    ASSERT_EQ(book.devices().size(), 1);
    EXPECT_EQ(book.devices().front().name, QStringLiteral("123-456-789"));
    EXPECT_FALSE(child("emptyState")->isVisible());
    // Presence asks about the new device at once.
    EXPECT_EQ(presence.ids(), QStringList{"123456789"});
    // The form opens empty again.
    QTest::mouseClick(child<QPushButton>("formButton"), Qt::LeftButton);
    EXPECT_TRUE(field("Partner ID")->text().isEmpty());
    EXPECT_TRUE(field("Vast wachtwoord")->text().isEmpty());
}

TEST_F(DevicesScreen, RenamingToBlankShowsTheIDAndDeletingTheLastShowsTheEmptyState) {
    add(QStringLiteral("Kantoor"), QStringLiteral("111222333"), QStringLiteral("pw"));
    add(QStringLiteral("Thuis"), QStringLiteral("444555666"), QStringLiteral("pw"));
    ASSERT_EQ(book.devices().size(), 2);
    EXPECT_EQ(presence.ids().size(), 2);

    // Rename and delete show while the pointer is over the row.
    QWidget* row = child("device-111222333");
    auto* renameButton = row->findChild<QAbstractButton*>("rename");
    EXPECT_FALSE(renameButton->isVisible());
    QEnterEvent enter(row->rect().center(), row->rect().center(),
                      row->mapToGlobal(row->rect().center()));
    QCoreApplication::sendEvent(row, &enter);
    ASSERT_TRUE(renameButton->isVisible());
    QTest::mouseClick(renameButton, Qt::LeftButton);
    auto* rename = child<QLineEdit>("renameField");
    ASSERT_TRUE(rename);
    rename->selectAll();
    QTest::keyClick(rename, Qt::Key_Backspace);
    QTest::keyClick(rename, Qt::Key_Return);
    EXPECT_FALSE(child<QLineEdit>("renameField"));
    EXPECT_EQ(book.find("111222333")->name, QStringLiteral("111-222-333"));

    for (const char* id : {"111222333", "444555666"}) {
        child(QStringLiteral("device-") + id)->findChild<QAbstractButton*>("delete")->click();
        QTest::mouseClick(child<QPushButton>("confirmDelete"), Qt::LeftButton);
    }
    EXPECT_TRUE(book.devices().isEmpty());
    EXPECT_TRUE(child("emptyState")->isVisible());
    EXPECT_FALSE(presence.isRunning());
}

TEST_F(DevicesScreen, ConnectingNeedsTheStoredPasswordAndNoSharing) {
    add(QStringLiteral("Kantoor"), QStringLiteral("111222333"), QStringLiteral("vast-k7m9q"));
    book.add(QStringLiteral("Zonder"), QStringLiteral("777888999"), QStringLiteral("weg"));
    ASSERT_TRUE(devices::Keychain::remove(secrets, "777888999", devices::Keychain::devicesService));
    posted.clear();

    QTest::mouseClick(child("device-777888999")->findChild<QPushButton*>("connect"),
                      Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(child<QLabel>("devicesProblem")->text().contains(devices::kNoStoredPassword));
    EXPECT_FALSE(book.find("777888999")->lastConnected);

    state.setIsSharing(true);
    QTest::mouseClick(child("device-111222333")->findChild<QPushButton*>("connect"),
                      Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());

    state.setIsSharing(false);
    QTest::mouseClick(child("device-111222333")->findChild<QPushButton*>("connect"),
                      Qt::LeftButton);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted.front().front().toString(), Command::startViewing);
    EXPECT_EQ(state.remoteID(), QStringLiteral("111222333"));
    EXPECT_EQ(state.remotePassword(), QStringLiteral("vast-k7m9q"));
    EXPECT_TRUE(book.find("111222333")->lastConnected);
}

TEST(RelativeTime, ShortDutchUnitsRoundedDown) {
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    const auto ago = [&](qint64 seconds) { return relativeDescription(now.addSecs(-seconds), now); };
    EXPECT_EQ(ago(-30), QStringLiteral("0 sec. geleden")); // a clock set back
    EXPECT_EQ(ago(59), QStringLiteral("59 sec. geleden"));
    EXPECT_EQ(ago(5 * 60 + 59), QStringLiteral("5 min. geleden"));
    EXPECT_EQ(ago(2 * 3600), QStringLiteral("2 u geleden"));
    EXPECT_EQ(ago(86400), QStringLiteral("1 dag geleden"));
    EXPECT_EQ(ago(3 * 86400), QStringLiteral("3 dagen geleden"));
    EXPECT_EQ(ago(15 * 86400), QStringLiteral("2 wk. geleden"));
    EXPECT_EQ(ago(65 * 86400), QStringLiteral("2 mnd. geleden"));
    EXPECT_EQ(ago(800 * 86400), QStringLiteral("2 jaar geleden"));
}

} // namespace
} // namespace velmarin::ui
