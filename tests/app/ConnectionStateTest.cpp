#include "app/ConnectionState.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace velmarin {
namespace {

TEST(ConnectionState, ChangesAreSignalledOncePerRealChangeAndTheLogKeepsTheTwentyNewestLines) {
    ConnectionState state;
    QList<Status> statuses;
    int peer = 0;
    QObject::connect(&state, &ConnectionState::statusChanged,
                     [&](const Status& value) { statuses.push_back(value); });
    QObject::connect(&state, &ConnectionState::connectedPeerNameChanged, [&] { ++peer; });

    state.setStatus(Status::connecting());
    state.setStatus(Status::connecting());
    state.setStatus(Status::error("a"));
    state.setStatus(Status::error("b"));
    EXPECT_EQ(statuses,
              (QList<Status>{Status::connecting(), Status::error("a"), Status::error("b")}));

    state.setConnectedPeerName(QString("x"));
    state.setConnectedPeerName(std::nullopt);
    state.setConnectedPeerName(std::nullopt);
    EXPECT_EQ(peer, 2);

    // The log keeps the twenty newest stamped lines, newest first.
    int tick = 0;
    state.setTimeFormatter([&] { return QString("12:00:%1").arg(tick++, 2, 10, QChar('0')); });
    int changed = 0;
    QObject::connect(&state, &ConnectionState::debugLogChanged, [&] { ++changed; });

    state.log("eerste");
    EXPECT_EQ(state.debugLog(), "[12:00:00] eerste\n");

    for (int i = 2; i <= 25; ++i)
        state.log(QString("regel %1").arg(i));
    EXPECT_EQ(changed, 25);
    const QStringList lines = state.debugLog().split('\n');
    ASSERT_EQ(lines.size(), 20);
    EXPECT_EQ(lines.first(), "[12:00:24] regel 25");
    EXPECT_EQ(lines.last(), "[12:00:05] regel 6");
    EXPECT_FALSE(state.debugLog().endsWith('\n'));

    // The default stamp: the locale decides the layout; h, m and s are there.
    ConnectionState stamped;
    stamped.log("bericht");
    EXPECT_TRUE(QRegularExpression(R"(^\[[^\]]*\d{1,2}\D\d{2}\D\d{2}[^\]]*\] bericht\n$)")
                    .match(stamped.debugLog())
                    .hasMatch())
        << stamped.debugLog().toStdString();
}

} // namespace
} // namespace velmarin
