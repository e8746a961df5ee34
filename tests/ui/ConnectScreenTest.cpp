// The connecting tab on a private Xvfb with a real keyring: the form's rules
// and Enter, refusing while sharing, and the recent connections (connecting
// with and without a stored password, deleting after the question).

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "devices/Keychain.h"
#include "devices/RecentConnectionsManager.h"
#include "secrets/SecretServiceStore.h"
#include "ui/viewer/ConnectView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace velmarin::ui {
namespace {

class ConnectScreen : public ::testing::Test {
protected:
    ConnectScreen() {
        view.resize(560, 480);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    template <class W = QWidget> W* child(const QString& name) { return view.findChild<W*>(name); }
    QLineEdit* id() { return child<QLineEdit>("partnerID"); }
    QLineEdit* password() { return child<QLineEdit>("password"); }
    QPushButton* rowButton(const QString& hostID, const QString& name) {
        QWidget* row = child(QStringLiteral("recent-") + hostID);
        return row ? row->findChild<QPushButton*>(name) : nullptr;
    }

    QTemporaryDir dir;
    QSettings store{dir.filePath("velmarin.conf"), QSettings::IniFormat};
    secrets::SecretServiceStore secrets;
    devices::RecentConnectionsManager recents{store, secrets};
    ConnectionState state;
    CommandBus commands;
    QSignalSpy posted{&commands, &CommandBus::posted};
    ConnectView view{state, commands, recents, secrets};
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
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted.front().front().toString(), Command::startViewing);
    EXPECT_EQ(state.remoteID(), QStringLiteral("123456789"));
    EXPECT_EQ(state.remotePassword(), QStringLiteral("k7m2pq"));
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
    ASSERT_TRUE(rowButton("111222333", "connect"));
    EXPECT_TRUE(child("recentList")->isVisible());

    // Without a password the form takes the ID and waits for one.
    QTest::mouseClick(rowButton("444555666", "connect"), Qt::LeftButton);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(state.remoteID().isEmpty());
    EXPECT_EQ(id()->text(), QStringLiteral("444-555-666"));
    EXPECT_EQ(view.focusWidget(), password());

    QTest::mouseClick(rowButton("111222333", "connect"), Qt::LeftButton);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted.front().front().toString(), Command::startViewing);
    EXPECT_EQ(state.remoteID(), QStringLiteral("111222333"));
    EXPECT_EQ(state.remotePassword(), QStringLiteral("eerder-9q"));
    EXPECT_EQ(id()->text(), QStringLiteral("111-222-333"));

    child(QStringLiteral("recent-111222333"))->findChild<QAbstractButton*>("delete")->click();
    EXPECT_EQ(recents.connections().size(), 2); // only asked
    QTest::mouseClick(rowButton("111222333", "confirmDelete"), Qt::LeftButton);
    ASSERT_EQ(recents.connections().size(), 1);
    EXPECT_EQ(recents.connections().front().hostID, QStringLiteral("444555666"));
    EXPECT_FALSE(
        devices::Keychain::load(secrets, "111222333", devices::Keychain::connectionsService));
    QCoreApplication::processEvents();
    EXPECT_FALSE(child(QStringLiteral("recent-111222333")));
}

} // namespace
} // namespace velmarin::ui
