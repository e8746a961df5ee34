// The coordinator's building blocks and start-up rules, without a relay.

#include "app/CancellableSleep.h"
#include "app/QtLogSink.h"
#include "app/TaskSlot.h"
#include "app/VideoSender.h"
#include "log/LogSink.h"
#include "program/AppDelegate.h"
#include "program/HeadlessOptions.h"
#include "support/WaitUntil.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmarin {
namespace {

using namespace std::chrono_literals;

using testing::waitUntil;

TEST(TaskSlot, StartingAnotherTaskCancelsTheFirstAndKeepsCapturesAlive) {
    TaskSlot slot;
    bool firstCancelled = false;
    int secondResult = 0;
    const auto start = std::chrono::steady_clock::now();
    slot.start([&firstCancelled](std::stop_token stop) -> QCoro::Task<void> {
        co_await sleepFor(30s, stop);
        firstCancelled = stop.stop_requested();
    });
    EXPECT_TRUE(slot.isRunning());
    // The closure and its captured value are read after a suspension.
    slot.start([&secondResult,
                value = std::make_shared<int>(42)](std::stop_token stop) -> QCoro::Task<void> {
        co_await sleepFor(50ms, stop);
        secondResult = *value;
    });
    ASSERT_TRUE(waitUntil([&] { return firstCancelled && secondResult == 42; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(slot.isRunning());

    bool ran = false;
    slot.start([&ran](std::stop_token stop) -> QCoro::Task<void> {
        co_await sleepFor(30s, stop);
        ran = !stop.stop_requested();
    });
    slot.cancel();
    EXPECT_FALSE(slot.isRunning());
    testing::pumpFor(100ms);
    EXPECT_FALSE(ran);
}

// Keeping only the newest frame is the Host stream test's (a slow network).
TEST(FrameQueue, EndsWhenFinishedWithoutTheFramesLeft) {
    FrameQueue queue;
    queue.push({1});
    queue.finish();
    queue.push({2});
    EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(VideoSender, EndsOnThe51stFailureInARowAndSuccessResetsTheCount) {
    using VideoSender::SendOutcome;
    // Frames sent and sends made when each send gets `outcome(call)`; every
    // send queues the next frame, so the loop never waits.
    const auto run = [](const auto& outcome) {
        FrameQueue queue;
        int calls = 0;
        queue.push({0});
        const std::uint64_t sent = VideoSender::run(queue, [&](protocol::Bytes) {
            queue.push({0});
            return outcome(++calls);
        });
        return std::pair(sent, calls);
    };
    EXPECT_EQ(run([](int) { return SendOutcome::failed; }), std::pair(std::uint64_t{0}, 51));
    // 50 failures, one success, 50 failures… never ends by failures; the
    // connection going away ends it.
    EXPECT_EQ(run([](int call) {
                  if (call == 300)
                      return SendOutcome::gone;
                  return call % 51 == 0 ? SendOutcome::sent : SendOutcome::failed;
              }),
              std::pair(std::uint64_t{5}, 300));
}

TEST(AppDelegate, StartsMinimisedAsLoginItemOrUnattendedAndCentresNarrowWindows) {
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
    AppDelegate delegate;
    delegate.finishLaunching({QStringLiteral("velmarin")}, store);
    EXPECT_FALSE(delegate.launchedAsLoginItem);
    delegate.finishLaunching({QStringLiteral("velmarin"), kLoginItemArgument}, store);
    EXPECT_TRUE(delegate.launchedAsLoginItem);

    store.setValue(QStringLiteral("autoStartHosting"), true);
    delegate.finishLaunching({QStringLiteral("velmarin")}, store);
    EXPECT_FALSE(delegate.launchedAsLoginItem);
    EXPECT_TRUE(shouldTerminateAfterLastWindowClosed(true, store));
    // Unattended: minimised even without a fixed password; the window
    // closing does not end the process.
    store.setValue(QStringLiteral("useFixedCredentials"), true);
    delegate.finishLaunching({QStringLiteral("velmarin")}, store);
    EXPECT_TRUE(delegate.launchedAsLoginItem);
    EXPECT_FALSE(shouldTerminateAfterLastWindowClosed(true, store));
    store.clear();
    EXPECT_FALSE(shouldTerminateAfterLastWindowClosed(false, store));

    EXPECT_EQ(delegate.windowShouldClose(), AppDelegate::CloseAction::close);
    delegate.isViewerActive = true;
    EXPECT_EQ(delegate.windowShouldClose(), AppDelegate::CloseAction::stopViewingAndStayOpen);

    // Narrow windows grow and are centred.
    const QRect screen(0, 30, 1920, 1050);
    EXPECT_EQ(initialWindowFrame(QRect(5, 5, 700, 400), screen), QRect(550, 280, 820, 550));
    EXPECT_EQ(initialWindowFrame(QRect(5, 5, 820, 400), screen), QRect(5, 5, 820, 400));
}

// The valid view commands are the end-to-end tests' (headless, devices,
// desktop window).
TEST(HeadlessOptions, ParsesAHostAndRefusesBadInput) {
    EXPECT_FALSE(parseHeadlessCommand({}));
    EXPECT_FALSE(parseHeadlessCommand({QStringLiteral("--login-item")}));

    const auto host = parseHeadlessCommand({"host", "--password", "geheim", "--id", "123-456-789"});
    ASSERT_TRUE(host && std::holds_alternative<HostOptions>(*host));
    EXPECT_EQ(std::get<HostOptions>(*host).password, QStringLiteral("geheim"));
    EXPECT_EQ(std::get<HostOptions>(*host).id, QStringLiteral("123456789"));

    for (const QStringList& bad :
         {QStringList{"host", "--password"}, QStringList{"host", "--password", " "},
          QStringList{"host", "--id", "12345"}, QStringList{"host", "--verbose"},
          QStringList{"view", "123456789"}, QStringList{"view", "12345678a", "pw"},
          QStringList{"view", "123456789", "pw", "--seconds", "0"},
          QStringList{"view", "123456789", "pw", "--fullscreen"},
          QStringList{"view", "123456789", "pw", "--window", "--chat", "hoi"}}) {
        const auto parsed = parseHeadlessCommand(bad);
        ASSERT_TRUE(parsed) << bad.join(' ').toStdString();
        EXPECT_TRUE(std::holds_alternative<UsageError>(*parsed)) << bad.join(' ').toStdString();
    }
}

std::vector<std::tuple<QString, QtMsgType, QString>> g_loggedLines;

void recordLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    g_loggedLines.emplace_back(QString::fromUtf8(context.category), type, text);
}

} // namespace

TEST(QtLogSink, LibraryLinesReachTheirCategories) {
    QLoggingCategory::setFilterRules(QStringLiteral("com.tessamund.velmarin.*=true"));
    g_loggedLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordLine);
    routeLogsToQt();
    logging::log(logging::Level::warning, "capture", "Stream stopped with error: %s", "weg");
    logging::log(logging::Level::info, "decoding", "Decoder opened %dx%d", 640, 360);
    logging::log(logging::Level::error, "encoding", "Encoder failed");
    logging::write(logging::Level::debug, "network", "WebSocket connected to wss://x");
    logging::write(logging::Level::info, "elsewhere", "kept");
    logging::setSink({});
    // Back on the default sink: not in Qt's categories any more.
    logging::write(logging::Level::error, "capture", "to stderr");
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    // An unknown category is not lost: it goes to capture's.
    const auto line = [](const char* category, QtMsgType type, const char* text) {
        return std::tuple(QString("com.tessamund.velmarin.") + category, type, QString(text));
    };
    EXPECT_EQ(g_loggedLines,
              (std::vector{line("capture", QtWarningMsg, "Stream stopped with error: weg"),
                           line("decoding", QtInfoMsg, "Decoder opened 640x360"),
                           line("encoding", QtCriticalMsg, "Encoder failed"),
                           line("network", QtDebugMsg, "WebSocket connected to wss://x"),
                           line("capture", QtInfoMsg, "kept")}));
}

} // namespace velmarin
