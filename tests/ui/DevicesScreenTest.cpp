// The connecting and devices tabs on a private Xvfb with a real keyring:
// each form's rules, Enter, refusing while sharing, the recent connections
// and the devices (connecting with and without a stored password, deleting
// after the question), presence following the book, renaming in place.

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/PresenceManager.h"
#include "devices/DeviceBookManager.h"
#include "devices/DeviceConnect.h"
#include "devices/Keychain.h"
#include "devices/RecentConnectionsManager.h"
#include "secrets/SecretServiceStore.h"
#include "ui/devices/DevicesView.h"
#include "ui/devices/RelativeTime.h"
#include "ui/viewer/ConnectView.h"

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

// A tab shown over a settings file and the real keyring.
class Screen : public ::testing::Test {
protected:
    void show(QWidget& view) {
        root = &view;
        view.resize(560, 480);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    template <class W = QWidget> W* child(const QString& name) { return root->findChild<W*>(name); }
    // The button `name` in the row `row` (a recent connection, a device).
    QAbstractButton* rowButton(const QString& row, const QString& name) {
        QWidget* found = child(row);
        return found ? found->findChild<QAbstractButton*>(name) : nullptr;
    }
    void expectViewing(const QString& id, const QString& password) {
        ASSERT_EQ(posted.size(), 1);
        EXPECT_EQ(posted.front().front().toString(), Command::startViewing);
        EXPECT_EQ(state.remoteID(), id);
        EXPECT_EQ(state.remotePassword(), password);
    }

    QTemporaryDir dir;
    QSettings store{dir.filePath("velmarin.conf"), QSettings::IniFormat};
    secrets::SecretServiceStore secrets;
    ConnectionState state;
    CommandBus commands;
    QSignalSpy posted{&commands, &CommandBus::posted};
    QWidget* root = nullptr;
};

class ConnectScreen : public Screen {
protected:
    ConnectScreen() { show(view); }
    QLineEdit* id() { return child<QLineEdit>("partnerID"); }
    QLineEdit* password() { return child<QLineEdit>("password"); }

    devices::RecentConnectionsManager recents{store, secrets};
    ConnectView view{state, commands, recents, secrets};
};

class DevicesScreen : public Screen {
protected:
    DevicesScreen() { show(view); }
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

    devices::DeviceBookManager book{store, secrets};
    // Nobody answers there; the screen's side of presence is what counts.
    PresenceManager presence{"wss://127.0.0.1:1", std::chrono::hours(1)};
    DevicesView view{state, commands, book, presence, secrets};
};

TEST_F(ConnectScreen, TheFormKeepsNineDigitsAndConnectsWithIDAndPassword) {
    auto* connect = child<QPushButton>("connectButton");
    QTest::keyClicks(id(), QStringLiteral("12a3 4567-8"));
    EXPECT_EQ(id()->text(), QStringLiteral("123-456-78"));
    QTest::keyClicks(password(), QStringLiteral("k7m2pq"));
    EXPECT_FALSE(connect->isEnabled());
    QTest::keyClick(password(), Qt::Key_Return);
    EXPECT_TRUE(posted.isEmpty());

    QTest::keyClicks(id(), QStringLiteral("9012"));
    EXPECT_EQ(id()->text(), QStringLiteral("123-456-789"));
    EXPECT_TRUE(connect->isEnabled());
    password()->clear();
    EXPECT_FALSE(connect->isEnabled());

    // The eye shows the password and says how to hide it again.
    EXPECT_EQ(password()->echoMode(), QLineEdit::Password);
    child<QAction>("togglePassword")->trigger();
    EXPECT_EQ(password()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(child<QAction>("togglePassword")->toolTip(), QStringLiteral("Verberg wachtwoord"));

    QTest::keyClicks(password(), QStringLiteral("k7m2pq"));
    QTest::keyClick(id(), Qt::Key_Enter);
    expectViewing("123456789", "k7m2pq");
}

TEST_F(ConnectScreen, NothingStartsWhileSharingAndErrorsShowUnderTheForm) {
    QTest::keyClicks(id(), QStringLiteral("123456789"));
    QTest::keyClicks(password(), QStringLiteral("geheim"));
    state.setIsSharing(true);
    EXPECT_FALSE(child<QPushButton>("connectButton")->isEnabled());
    QTest::keyClick(password(), Qt::Key_Return);
    view.connectIfValid();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(state.remoteID().isEmpty());

    EXPECT_FALSE(child("connectProblem")->isVisible());
    state.setStatus(Status::error(QStringLiteral("Onjuist wachtwoord")));
    EXPECT_TRUE(child("connectProblem")->isVisible());
    EXPECT_EQ(child("connectProblem")->findChildren<QLabel*>().back()->text(),
              Status::error(QStringLiteral("Onjuist wachtwoord")).displayText());
    state.setStatus(Status::disconnected());
    EXPECT_FALSE(child("connectProblem")->isVisible());
}

TEST_F(ConnectScreen, RecentEntriesConnectWithTheirStoredPasswordAndAreDeletedAfterAsking) {
    EXPECT_FALSE(child("recentList")->isVisible());
    recents.save(QStringLiteral("111222333"), QStringLiteral("eerder-9q"), {});
    recents.save(QStringLiteral("444555666"), QStringLiteral("weg"), {});
    ASSERT_TRUE(
        devices::Keychain::remove(secrets, "444555666", devices::Keychain::connectionsService));
    // The list follows the manager at once.
    ASSERT_TRUE(rowButton("recent-111222333", "connect"));
    EXPECT_TRUE(child("recentList")->isVisible());

    // Without a password the form takes the ID and waits for one.
    QTest::mouseClick(rowButton("recent-444555666", "connect"), Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(state.remoteID().isEmpty());
    EXPECT_EQ(id()->text(), QStringLiteral("444-555-666"));
    EXPECT_EQ(view.focusWidget(), password());

    QTest::mouseClick(rowButton("recent-111222333", "connect"), Qt::LeftButton);
    expectViewing("111222333", "eerder-9q");
    EXPECT_EQ(id()->text(), QStringLiteral("111-222-333"));

    rowButton("recent-111222333", "delete")->click();
    EXPECT_EQ(recents.connections().size(), 2); // only asked
    QTest::mouseClick(rowButton("recent-111222333", "confirmDelete"), Qt::LeftButton);
    ASSERT_EQ(recents.connections().size(), 1);
    EXPECT_EQ(recents.connections().front().hostID, QStringLiteral("444555666"));
    EXPECT_FALSE(
        devices::Keychain::load(secrets, "111222333", devices::Keychain::connectionsService));
    QCoreApplication::processEvents();
    EXPECT_FALSE(child(QStringLiteral("recent-111222333")));
}

TEST_F(DevicesScreen, TheFormSavesOnlyWithNineDigitsAndAPassword) {
    EXPECT_TRUE(child("emptyState")->isVisible());
    QTest::mouseClick(child<QPushButton>("formButton"), Qt::LeftButton);
    EXPECT_EQ(child<QPushButton>("formButton")->text(), QStringLiteral("Annuleer"));
    // The ID field's grouping is TheFormKeepsNineDigits's (the same field).
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
        rowButton(QStringLiteral("device-") + id, "delete")->click();
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

    QTest::mouseClick(rowButton("device-777888999", "connect"), Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(child<QLabel>("devicesProblem")->text().contains(devices::kNoStoredPassword));
    EXPECT_FALSE(book.find("777888999")->lastConnected);

    state.setIsSharing(true);
    QTest::mouseClick(rowButton("device-111222333", "connect"), Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());

    state.setIsSharing(false);
    QTest::mouseClick(rowButton("device-111222333", "connect"), Qt::LeftButton);
    expectViewing("111222333", "vast-k7m9q");
    EXPECT_TRUE(book.find("111222333")->lastConnected);
}

TEST(RelativeTime, ShortDutchUnitsRoundedDown) {
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    const auto ago = [&](qint64 seconds) {
        return relativeDescription(now.addSecs(-seconds), now);
    };
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
