// Saved devices and recent connections against a real Secret Service (a
// private GNOME Keyring, read back with secret-tool), their stored form
// against hand-written JSON, and the headless modes end to end.

#include "app/IDFormatter.h"
#include "devices/DeviceBookManager.h"
#include "devices/Keychain.h"
#include "devices/RecentConnectionsManager.h"
#include "secrets/SecretServiceStore.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace velmarin;
using namespace velmarin::devices;

namespace {

const QString kDevices = Keychain::devicesService;
const QString kRecents = Keychain::connectionsService;

// What the keyring holds, asked through another program.
QString secretTool(const QStringList& arguments) {
    QProcess tool;
    tool.start("secret-tool", arguments);
    tool.waitForFinished(10'000);
    return QString::fromUtf8(tool.readAllStandardOutput());
}
QString stored(const QString& service, const QString& account) {
    return secretTool({"lookup", "service", service, "account", account});
}

class Devices : public ::testing::Test {
protected:
    // A minute later at each call.
    DeviceBookManager::Clock clock() {
        return [this] { return m_time = m_time.addSecs(60); };
    }

    QTemporaryDir dir;
    QSettings store{dir.filePath("velmarin.conf"), QSettings::IniFormat};
    secrets::SecretServiceStore secrets;
    QDateTime m_time = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
};

TEST_F(Devices, StoredFormReadsHandWrittenJsonAndOmitsAbsentKeys) {
    // 2001-01-01 00:00:00 UTC is 0; 7 days and a half second later is 604800.5.
    const QByteArray golden =
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Kantoor","hostID":"123456789",)"
        R"("note":"bureau","lastConnected":604800.5,"addedAt":0},)"
        R"({"id":"0D9D5F52-5A3E-4F8B-9C11-4B9A9E6E0001","name":"Thuis","hostID":"987654321",)"
        R"("addedAt":-86400}])";
    const auto utc = [](int year, int month, int day, int milliseconds = 0) {
        return QDateTime(QDate(year, month, day), QTime(0, 0).addMSecs(milliseconds), Qt::UTC);
    };
    const auto devices = decodeDevices(golden);
    EXPECT_EQ(devices, (QList<SavedDevice>{
                           {QUuid("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Kantoor", "123456789",
                            QString("bureau"), utc(2001, 1, 8, 500), utc(2001, 1, 1)},
                           {QUuid("0D9D5F52-5A3E-4F8B-9C11-4B9A9E6E0001"), "Thuis", "987654321",
                            std::nullopt, std::nullopt, utc(2000, 12, 31)}}));
    ASSERT_TRUE(devices);

    // Written back: the same instants, and no keys for what is absent.
    const QByteArray written = encodeDevices(*devices);
    EXPECT_TRUE(written.contains(R"("lastConnected":604800.5)")) << written.toStdString();
    EXPECT_EQ(written.count("\"note\""), 1);
    EXPECT_EQ(written.count("\"lastConnected\""), 1);
    EXPECT_EQ(decodeDevices(written), devices);

    const QByteArray recents =
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","hostID":"123 456 789",)"
        R"("lastConnected":10.25,"thumbnail":"/9j/2w=="}])";
    EXPECT_EQ(decodeRecents(recents),
              (QList<RecentConnection>{{QUuid("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                                        "123 456 789", utc(2001, 1, 1, 10'250),
                                        QByteArray("\xff\xd8\xff\xdb", 4), std::nullopt}}));
    EXPECT_FALSE(encodeRecents({RecentConnection{QUuid::createUuid(), "1", {}, {}, {}}})
                     .contains("thumbnail"));

    // Anything wrong in any entry: nothing at all.
    for (const QByteArray& bad : {QByteArray(R"({"id":1})"), QByteArray("[{\"id\":\"x\"}]"),
                                  QByteArray(golden).replace("604800.5", "\"gisteren\""),
                                  QByteArray(recents).replace("/9j/2w==", "!!")}) {
        EXPECT_FALSE(decodeDevices(bad) && decodeRecents(bad)) << bad.toStdString();
    }
}

TEST_F(Devices, BookOrdersConnectedFirstAndKeepsEntriesPerHost) {
    store.setValue(DeviceBookManager::kKey, QByteArray("{niet leesbaar"));
    DeviceBookManager book(store, secrets, clock());
    EXPECT_TRUE(book.devices().isEmpty());
    EXPECT_EQ(store.value(DeviceBookManager::kKey).toByteArray(), "{niet leesbaar");

    book.add("  ", "123 456 789", "pw1");
    book.add("Thuis", "987654321", "pw2", QString("zolder"));
    book.add("Werk", "555000111", "pw3");
    EXPECT_EQ(book.devices()[0].name, "123-456-789");
    EXPECT_EQ(book.devices()[0].hostID, "123456789");
    const QDateTime added = book.devices()[1].addedAt;

    book.add("Zolder", "987-654-321", "nieuw");
    EXPECT_EQ(book.devices().size(), 3);
    EXPECT_EQ(book.devices()[1].name, "Zolder");
    EXPECT_EQ(book.devices()[1].note, std::nullopt);
    EXPECT_EQ(book.devices()[1].addedAt, added);
    EXPECT_EQ(stored(kDevices, "987654321"), "nieuw");
    const QString items = secretTool({"search", "--all", "service", kDevices});
    EXPECT_EQ(items.count("[/"), 3) << items.toStdString(); // one per Host, replaced in place
    EXPECT_TRUE(items.contains("label = Velmarin: apparaat 987 654 321")) << items.toStdString();

    book.markConnected("555000111");
    book.markConnected("123456789");
    EXPECT_EQ(book.hostIDs(), QStringList({"123456789", "555000111", "987654321"}));

    // Reopened from the file: the same book.
    DeviceBookManager reopened(store, secrets);
    EXPECT_EQ(reopened.devices(), book.devices());

    const QUuid gone = book.devices()[2].id;
    book.remove(gone);
    EXPECT_EQ(stored(kDevices, "987654321"), "");
    EXPECT_EQ(stored(kDevices, "555000111"), "pw3") << "another Host's removal hit it";
    book.add("Terug", "987654321", "pw");
    EXPECT_NE(book.devices().back().id, gone);
}

TEST_F(Devices, RecentsMoveToTheFrontAndTheTwentyFirstTakesOnlyItsOwnPassword) {
    RecentConnectionsManager recents(store, secrets, clock());
    recents.save("100000000", "oud", "duim");
    const QUuid first = recents.connections().front().id;
    for (int i = 1; i <= 19; ++i)
        recents.save(QString::number(100000000 + i), "pw", {});
    recents.save("100000000", "nieuw", {});
    EXPECT_EQ(recents.connections().size(), 20);
    EXPECT_EQ(recents.connections().front().id, first);
    EXPECT_EQ(recents.connections().front().thumbnail, QByteArray("duim"));
    EXPECT_EQ(stored(kRecents, "100000000"), "nieuw");

    // The oldest now is 100000001; a device saved under the same ID keeps
    // its own password.
    ASSERT_TRUE(Keychain::save(secrets, "apparaat", "100000001", kDevices));
    recents.save("100 000 021", "pw", {});
    EXPECT_EQ(recents.connections().size(), 20);
    EXPECT_EQ(recents.connections().front().hostID, "100 000 021");
    EXPECT_EQ(recents.connections().back().hostID, "100000002");
    EXPECT_EQ(stored(kRecents, "100000001"), "");
    EXPECT_EQ(stored(kDevices, "100000001"), "apparaat");
    EXPECT_EQ(RecentConnectionsManager(store, secrets).connections(), recents.connections());
}

// The velmarin binary's headless modes as separate processes against the
// real relay: failures with their exit codes, a fixed Host that comes back
// under its ID, and a Viewer that connects by a saved device's name.
TEST(HeadlessEndToEnd,
     FailuresEndWithTheirExitCodesAFixedHostKeepsItsIdAndViewByDeviceRemembersIt) {
    using namespace velmarin::testing;
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    XvfbProcess x(1280, 800);
    RelayProcess relay;
    QTemporaryDir dir;
    const QProcessEnvironment environment =
        velmarinEnvironment(x.display(), relay, dir.filePath("viewer"));
    const auto run = [&](const QStringList& arguments, const QByteArray& input = {}) {
        return runVelmarin(environment, arguments, input);
    };

    // No display: nothing to share.
    const VelmarinRun noCapture = runVelmarin(
        velmarinEnvironment({}, relay, dir.filePath("viewer")), {"host", "--password", "geheim"});
    EXPECT_EQ(noCapture.exitCode, 1);
    EXPECT_TRUE(noCapture.err.contains(
        "Fout: Screen capture niet beschikbaar. Geef toestemming in Systeeminstellingen."))
        << noCapture.err.toStdString();
    const VelmarinRun usage = run({"view", "12-34", "geheim"});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.err.contains("Ongeldig ID")) << usage.err.toStdString();

    const QStringList fixed{"--password", "vast-k7m9q", "--id", "723456789"};
    HostProcess first(x.display(), relay, dir.filePath("host"), fixed);
    const QString id = first.readUntil("ID: ");
    ASSERT_EQ(IDFormatter::normalize(id), "723456789") << first.transcript().toStdString();
    // Frozen, its TCP connection stays open without a word: to the relay it
    // looks like a Host behind a broken network path. Its second start
    // (the same Host after the blip) must get the same ID.
    ASSERT_EQ(::kill(static_cast<pid_t>(first.process().processId()), SIGSTOP), 0);
    HostProcess second(x.display(), relay, dir.filePath("host"), fixed);
    EXPECT_EQ(IDFormatter::normalize(second.readUntil("ID: ")), "723456789")
        << second.transcript().toStdString();

    const VelmarinRun wrong = run({"view", id, "raden2"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains("Fout: Onjuist wachtwoord.")) << wrong.err.toStdString();

    EXPECT_EQ(run({"devices", "add", "Kantoor", id}, "vast-k7m9q\n").exitCode, 0);
    const QString list = run({"devices", "list"}).out;
    EXPECT_TRUE(list.contains("Kantoor\t" + id + "\tonline")) << list.toStdString();
    const VelmarinRun view = run({"view", "--device", "Kantoor", "--seconds", "3"});
    EXPECT_EQ(view.exitCode, 0) << view.err.toStdString();
    EXPECT_TRUE(view.out.contains("Status: Verbonden")) << view.out.toStdString();
    EXPECT_EQ(run({"view", "--device", "Onbekend"}).exitCode, 1);

    QSettings viewer(dir.filePath("viewer/Tessamund/Velmarin.ini"), QSettings::IniFormat);
    const auto recents = decodeRecents(viewer.value("recentConnections").toByteArray());
    ASSERT_TRUE(recents && recents->size() == 1);
    EXPECT_EQ(recents->front().hostID, QString(id).remove('-'));
    ASSERT_TRUE(recents->front().thumbnail);
    EXPECT_EQ(QImage::fromData(*recents->front().thumbnail).width(), 160);
    const auto devices = decodeDevices(viewer.value("savedDevices").toByteArray());
    ASSERT_TRUE(devices && devices->front().lastConnected);

    ::kill(static_cast<pid_t>(first.process().processId()), SIGKILL);
    second.process().terminate();
    ASSERT_TRUE(second.process().waitForFinished(15'000));
    const QString output = second.transcript() + QString::fromUtf8(second.process().readAll()) +
                           QString::fromUtf8(second.process().readAllStandardError());
    EXPECT_TRUE(output.contains("Status: Verbonden")) << output.toStdString();
    // A password given on the command line stays out of journals and logs.
    EXPECT_FALSE(output.contains("vast-k7m9q")) << output.toStdString();
}

} // namespace
