// The velmarin binary's headless modes as separate processes, against the
// real relay.

#include "support/app/CoordinatorHarness.h"
#include "app/IDFormatter.h"
#include "support/host/HostProcess.h"
#include "support/x11/XvfbProcess.h"

#include <gtest/gtest.h>

#include <csignal>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;

// The velmarin binary without a screen, pointed at the test's relay.
VelmarinRun runHeadless(const QStringList& args, const RelayProcess& relay) {
    return runVelmarin(velmarinEnvironment({}, relay), args);
}

TEST(HeadlessMode, FailuresEndWithTheirExitCodesAndAFixedHostComesBackUnderItsId) {
    const RelayEnvironment env;
    const VelmarinRun noCapture = runHeadless({"host", "--password", "geheim"}, env.relay);
    EXPECT_EQ(noCapture.exitCode, 1);
    EXPECT_TRUE(noCapture.err.contains(QStringLiteral(
        "Fout: Screen capture niet beschikbaar. Geef toestemming in Systeeminstellingen.")))
        << noCapture.err.toStdString();
    const VelmarinRun usage = runHeadless({"view", "12-34", "geheim"}, env.relay);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.err.contains(QStringLiteral("Ongeldig ID"))) << usage.err.toStdString();

    const XvfbProcess x(640, 480);
    const QStringList fixed{"--password", "vast-k7m9q", "--id", "723456789"};
    HostProcess first(x.display(), env.relay, {}, fixed);
    const QString id = first.readUntil(QStringLiteral("ID: "));
    ASSERT_EQ(IDFormatter::normalize(id), QStringLiteral("723456789"))
        << first.transcript().toStdString();
    // Frozen, its TCP connection stays open without a word: to the relay it
    // looks like a Host behind a broken network path. Its second start
    // (the same Host after the blip) must get the same ID.
    ASSERT_EQ(::kill(static_cast<pid_t>(first.process().processId()), SIGSTOP), 0);
    HostProcess second(x.display(), env.relay, {}, fixed);
    EXPECT_EQ(IDFormatter::normalize(second.readUntil(QStringLiteral("ID: "))),
              QStringLiteral("723456789"))
        << second.transcript().toStdString();

    // A wrong password fails with the relay's text; the right one connects.
    const VelmarinRun wrong = runHeadless({"view", id, "raden2"}, env.relay);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("Fout: Onjuist wachtwoord.")))
        << wrong.err.toStdString();
    const VelmarinRun view = runHeadless({"view", id, "vast-k7m9q", "--seconds", "2"}, env.relay);
    EXPECT_EQ(view.exitCode, 0) << view.err.toStdString();
    ::kill(static_cast<pid_t>(first.process().processId()), SIGKILL);
    second.process().terminate();
    ASSERT_TRUE(second.process().waitForFinished(15'000));
    const QString output = second.transcript() + QString::fromUtf8(second.process().readAll()) +
                           QString::fromUtf8(second.process().readAllStandardError());
    EXPECT_TRUE(output.contains(QStringLiteral("Status: Verbonden"))) << output.toStdString();
    // A password given on the command line stays out of journals and logs.
    EXPECT_FALSE(output.contains(QStringLiteral("vast-k7m9q"))) << output.toStdString();
}

} // namespace
} // namespace velmarin::testing
