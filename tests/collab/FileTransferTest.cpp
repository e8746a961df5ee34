// File transfer through the real relay: between two coordinators, between
// ours and a peer that speaks the wire protocol one message at a time, and
// from the headless Viewer.

#include "protocol/CryptoHelper.h"
#include "support/app/CoordinatorHarness.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayTestClient.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sys/resource.h>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;
using namespace protocol;
namespace fs = std::filesystem;
using Outcome = FileTransferHandler::Outcome;

constexpr std::int64_t kNow = 1'700'000'000;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every name in `folder`, hidden ones too, sorted.
std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result.push_back(entry.path().filename().string());
    std::ranges::sort(result);
    return result;
}

std::string chunk(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

class FileTransfer : public ::testing::Test {
protected:
    RelayEnvironment env;
    QTemporaryDir temp;

    fs::path folder(const std::string& name) {
        const fs::path path = fs::path(temp.path().toStdString()) / name;
        fs::create_directories(path);
        return path;
    }
    static collab::FileTransferManager::Options into(const fs::path& downloads,
                                                     std::chrono::milliseconds silence = 30s) {
        return {
            .downloads = downloads, .silenceTimeout = silence, .unixSeconds = [] { return kNow; }};
    }
    static QString hosting(Side& host) {
        host.setup();
        host.startHosting();
        EXPECT_TRUE(waitUntil([&] { return host.status() == Status::Kind::waitingForViewer; }));
        return host.state.localID();
    }
    // Connects `viewer` to the Host `id`; every outcome it reports after that
    // (once the coordinator handled it).
    static std::shared_ptr<std::vector<Outcome>> viewing(Side& viewer, const QString& id) {
        viewer.setup();
        auto sent = std::make_shared<std::vector<Outcome>>();
        viewer.files->onFinished = [sent, handle = viewer.files->onFinished](const Outcome& o) {
            handle(o);
            sent->push_back(o);
        };
        viewer.startViewing(id, QStringLiteral("k7m2pq"));
        EXPECT_TRUE(waitUntil([&] { return viewer.status() == Status::Kind::connected; }));
        return sent;
    }
};

// A peer written strictly to the protocol, played by a plain test client in
// this thread; while it waits, the event loop (and so our side) runs.
class WirePeer {
public:
    explicit WirePeer(const RelayProcess& relay)
        : m_client(relay.port(), relay.caFile()) {}

    void viewerOf(const QString& id, const std::string& password) {
        m_client.send(ConnectMessage{.targetId = id.toStdString()});
        const auto challenge = next<ChallengeMessage>("challenge");
        ASSERT_TRUE(challenge);
        m_client.send(ChallengeResponseMessage{
            .response = CryptoHelper::challengeResponse(password, challenge->nonce)});
        ASSERT_TRUE(next<ConnectedMessage>("connected"));
    }
    QString host(const std::string& password) {
        m_client.send(RegisterMessage{.passwordHash = CryptoHelper::sha256hex(password)});
        const auto registered = next<RegisteredMessage>("registered");
        return registered ? QString::fromStdString(registered->id) : QString();
    }
    template <Message M> void send(const M& message) { m_client.send(message); }
    // Offers a file as a Viewer; whether it was accepted.
    bool offer(const std::string& id, const std::string& name, std::int64_t size,
               std::int64_t chunks) {
        send(FileOfferMessage{.transferId = id,
                              .fileName = name,
                              .fileSize = size,
                              .totalChunks = chunks,
                              .sender = "viewer"});
        return next<FileAcceptMessage>().has_value();
    }
    // Sends one chunk; whether exactly that one was acknowledged.
    bool acked(const std::string& id, std::int64_t index, const std::string& bytes) {
        send(FileChunkMessage{.transferId = id, .chunkIndex = index, .data = chunk(bytes)});
        const auto ack = next<FileAckMessage>();
        return ack && ack->chunkIndex == index;
    }

    // The next message of `type` (pings, video and the rest are skipped);
    // nothing when another file message comes first or none in time.
    template <Message M>
    std::optional<M> next(std::string_view type = M::kType,
                          std::chrono::milliseconds timeout = 10s) {
        const auto text = nextFileMessage(type, timeout);
        return text ? ProtocolEncoder::decode<M>(*text) : std::nullopt;
    }
    // Nothing but our side's chatter arrives for `duration`.
    bool quietFor(std::chrono::milliseconds duration) {
        return !nextFileMessage("file_", duration).has_value();
    }

private:
    std::optional<std::string> nextFileMessage(std::string_view type,
                                               std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pumpFor(2ms);
            const auto message = m_client.receive(5ms);
            if (!message || message->binary)
                continue;
            const std::string got = ProtocolEncoder::decodeType(message->data).value_or("");
            if (got.starts_with(type))
                return message->data;
            if (got.starts_with("file_"))
                return std::nullopt;
        }
        return std::nullopt;
    }

    RelayTestClient m_client;
};

TEST_F(FileTransfer, FilesArriveByteIdenticalUnderAFreeNameBothWaysAndFailuresKeepNothing) {
    const fs::path source = folder("bron"), hostFiles = folder("host"),
                   viewerFiles = folder("viewer");
    Side host({.files = into(hostFiles)});
    Side viewer({.withCapture = false, .files = into(viewerFiles)});
    const auto sent = viewing(viewer, hosting(host));
    ASSERT_EQ(viewer.status(), Status::Kind::connected);

    const auto transfer = [&](Side& from, const std::string& name, const std::string& bytes) {
        writeFile(source / name, bytes);
        EXPECT_TRUE(from.files->startSending((source / name).string()));
        return waitUntil([&] { return !from.files->isActive(); });
    };
    for (const unsigned size : {0u, 65536u, 65537u, 200000u}) {
        const std::string name = "f" + std::to_string(size) + ".bin",
                          bytes = randomBytes(size, size);
        ASSERT_TRUE(transfer(viewer, name, bytes));
        EXPECT_EQ(sent->back().kind, Outcome::Kind::sent) << sent->back().reason;
        EXPECT_EQ(readFile(hostFiles / name), bytes) << name;
        EXPECT_TRUE(
            host.state.debugLog().contains(QString::fromStdString("Bestand ontvangen: " + name)));
        // The receiver keeps showing the finished file; the sender clears.
        EXPECT_EQ(host.state.fileTransferName(), QString::fromStdString(name));
        EXPECT_EQ(host.state.fileTransferProgress(), 1.0);
        EXPECT_FALSE(viewer.state.fileTransferProgress().has_value());
    }
    // Taken names: the time, then a counter; never an overwrite.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(transfer(viewer, "rapport.pdf", randomBytes(10, i)));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(transfer(viewer, "README", randomBytes(10, 7 + i)));
    EXPECT_EQ(readFile(hostFiles / "rapport_1700000000_2.pdf"), randomBytes(10, 2));
    EXPECT_EQ(readFile(hostFiles / "README_1700000000."), randomBytes(10, 8));
    EXPECT_EQ(names(hostFiles),
              (std::vector<std::string>{"README", "README_1700000000.", "f0.bin", "f200000.bin",
                                        "f65536.bin", "f65537.bin", "rapport.pdf",
                                        "rapport_1700000000.pdf", "rapport_1700000000_2.pdf"}));

    // The Host sends too.
    ASSERT_TRUE(transfer(host, "terug.bin", randomBytes(150000, 3)));
    EXPECT_EQ(readFile(viewerFiles / "terug.bin"), randomBytes(150000, 3));

    // A receiver that cannot write cancels, says why, and keeps nothing.
    writeFile(source / "a.bin", randomBytes(200000, 1));
    const auto refused = [&](const QString& why) {
        EXPECT_TRUE(viewer.files->startSending((source / "a.bin").string()));
        EXPECT_TRUE(waitUntil([&] { return !viewer.files->isActive(); }));
        EXPECT_EQ(sent->back().kind, Outcome::Kind::cancelled);
        EXPECT_TRUE(host.state.debugLog().contains(
            QStringLiteral("Bestand a.bin kon niet worden opgeslagen: ") + why))
            << host.state.debugLog().toStdString();
    };
    // The disk fills up half-way (a file size limit for this process).
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original{};
    ::getrlimit(RLIMIT_FSIZE, &original);
    const rlimit small{100000, original.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    refused(QStringLiteral("het bestand is te groot voor de schijf."));
    ::setrlimit(RLIMIT_FSIZE, &original);
    EXPECT_EQ(names(hostFiles).size(), 9u);
    // No Downloads folder can be made where a file is in the way.
    fs::remove_all(hostFiles);
    writeFile(hostFiles, "x");
    refused(QStringLiteral("de map Downloads kan niet worden gemaakt."));
    fs::remove(hostFiles);
    fs::create_directory(hostFiles);

    // A session that stops ends its transfer on both sides, and the
    // receiver keeps nothing of it.
    const fs::path big = source / "groot.bin";
    std::ofstream(big).close();
    fs::resize_file(big, std::int64_t{1} << 30);
    ASSERT_TRUE(viewer.coordinator->sendFile(QString::fromStdString(big.string())));
    ASSERT_TRUE(waitUntil([&] { return host.state.fileTransferProgress().value_or(0) > 0; }));
    // The sender shows its own transfer; a second file meanwhile is refused
    // and says so, without hiding the one that runs.
    EXPECT_EQ(viewer.state.fileTransferName(), QStringLiteral("groot.bin"));
    EXPECT_FALSE(
        viewer.coordinator->sendFile(QString::fromStdString((source / "terug.bin").string())));
    EXPECT_TRUE(viewer.state.fileTransferNotice().value_or(QString()).contains(
        QStringLiteral("er loopt al een bestandsoverdracht")));
    EXPECT_EQ(viewer.state.fileTransferName(), QStringLiteral("groot.bin"));
    EXPECT_TRUE(viewer.state.fileTransferProgress().has_value());
    viewer.commands.post(Command::stopViewing);
    ASSERT_TRUE(waitUntil([&] { return !host.files->isActive() && !viewer.files->isActive(); }));
    EXPECT_EQ(sent->back().kind, Outcome::Kind::cancelled);
    EXPECT_TRUE(names(hostFiles).empty());
}

// Our receiver against a sender that waits for each acknowledgement, and
// everything a sender may get wrong.
TEST_F(FileTransfer, StrictSenderIsServedAndInconsistentTransfersAreRefused) {
    const fs::path downloads = folder("host");
    Side host({.files = into(downloads, 2s)});
    WirePeer peer(env.relay);
    peer.viewerOf(hosting(host), "k7m2pq");

    // Path parts, a repeated chunk (its new bytes count once), and a chunk
    // that is not Base64 (not acknowledged) before its good copy.
    const std::string bytes = randomBytes(200000, 5);
    ASSERT_TRUE(peer.offer("a1", "../../etc/kopie", 200000, 4));
    ASSERT_TRUE(peer.acked("a1", 0, std::string(65536, 'x')));
    for (std::int64_t i = 0; i < 4; ++i) {
        if (i == 1) {
            peer.send(FileChunkMessage{.transferId = "a1", .chunkIndex = 1, .data = "@@@="});
            EXPECT_TRUE(peer.quietFor(300ms));
        }
        ASSERT_TRUE(peer.acked("a1", i, bytes.substr(i * 65536, 65536))) << i;
    }
    ASSERT_TRUE(peer.next<FileCompleteMessage>());
    EXPECT_EQ(readFile(downloads / "kopie"), bytes);

    // Names that would leave the folder, hide the file or read as an option.
    for (const std::string name : {"/", "..", ".verborgen", "-rf", "a/b\\c.txt", "x\x01y"}) {
        ASSERT_TRUE(peer.offer("n", name, 0, 1) && peer.acked("n", 0, ""));
        ASSERT_TRUE(peer.next<FileCompleteMessage>());
    }
    EXPECT_EQ(names(downloads), (std::vector<std::string>{"bestand", "bestand_1700000000.", "c.txt",
                                                          "kopie", "rf", "verborgen", "xy"}));

    // Refused with file_cancel, nothing stored: a chunk count that does not
    // fit the size, an index out of range, a chunk of the wrong length.
    struct Inconsistent {
        std::string id;
        std::int64_t size, chunks;
        std::optional<std::pair<std::int64_t, std::string>> chunk; // index, bytes
    };
    for (const auto& [id, size, chunks, bad] :
         {Inconsistent{"c1", 200000, 3, {}}, Inconsistent{"c2", 200000, 5, {}},
          Inconsistent{"c3", 10, 1, {{1, "0123456789"}}},
          Inconsistent{"c4", 10, 1, {{0, "0123456789A"}}},
          Inconsistent{"c5", 65537, 2, {{0, std::string(65537, 'x')}}}}) {
        if (!bad) {
            peer.send(FileOfferMessage{
                .transferId = id, .fileName = "c", .fileSize = size, .totalChunks = chunks});
        } else {
            EXPECT_TRUE(peer.offer(id, "c", size, chunks));
            peer.send(FileChunkMessage{
                .transferId = id, .chunkIndex = bad->first, .data = chunk(bad->second)});
        }
        const auto cancel = peer.next<FileCancelMessage>();
        EXPECT_TRUE(cancel && cancel->transferId == id) << id;
    }
    EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("ongeldige gegevens ontvangen")));

    // Busy: a second offer is rejected (its name is shown); the first one
    // ends by the sender's cancel, or by 2 s of silence.
    ASSERT_TRUE(peer.offer("b1", "een", 70000, 2));
    peer.send(
        FileOfferMessage{.transferId = "b2", .fileName = "twee", .fileSize = 1, .totalChunks = 1});
    const auto reject = peer.next<FileRejectMessage>();
    ASSERT_TRUE(reject);
    EXPECT_EQ(reject->transferId, "b2");
    EXPECT_EQ(host.state.fileTransferName(), QStringLiteral("twee"));
    peer.send(FileCancelMessage{.transferId = "b1"});
    ASSERT_TRUE(waitUntil([&] { return !host.files->isActive(); }));
    ASSERT_TRUE(peer.offer("s1", "stil", 70000, 2) && peer.acked("s1", 0, std::string(65536, 's')));
    const auto cancel = peer.next<FileCancelMessage>("file_cancel", 5s);
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->transferId, "s1");
    EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("reageert niet meer")));
    EXPECT_EQ(names(downloads).size(), 7u); // no partial file of any of these
}

// Our sender, with its window, against a receiver that answers each chunk
// as it comes and otherwise waits.
TEST_F(FileTransfer, OurSenderServesAStrictReceiver) {
    const fs::path source = folder("bron");
    WirePeer peer(env.relay);
    const QString id = peer.host("k7m2pq");
    Side viewer({.withCapture = false, .files = into(folder("viewer"), 2s)});
    const auto sent = viewing(viewer, id);
    ASSERT_EQ(viewer.status(), Status::Kind::connected);

    const std::string bytes = randomBytes(20 * 65536 + 3, 9);
    writeFile(source / "data.bin", bytes);
    ASSERT_TRUE(viewer.files->startSending((source / "data.bin").string()));
    const auto offer = peer.next<FileOfferMessage>();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->fileSize, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(offer->totalChunks, 21);
    EXPECT_EQ(offer->sender, "viewer");
    EXPECT_EQ(offer->transferId.size(), 8u);
    peer.send(FileAcceptMessage{.transferId = offer->transferId});
    std::string received;
    for (std::int64_t i = 0; i < 21; ++i) {
        const auto piece = peer.next<FileChunkMessage>();
        ASSERT_TRUE(piece);
        ASSERT_EQ(piece->chunkIndex, i); // in order, each once
        const auto decoded = QByteArray::fromBase64Encoding(
            QByteArray::fromStdString(piece->data), QByteArray::AbortOnBase64DecodingErrors);
        ASSERT_TRUE(decoded);
        received.append(decoded.decoded.toStdString());
        peer.send(FileAckMessage{.transferId = offer->transferId, .chunkIndex = i});
    }
    EXPECT_TRUE(peer.quietFor(200ms));
    EXPECT_TRUE(viewer.files->isActive()); // until the receiver's word
    peer.send(FileCompleteMessage{.transferId = offer->transferId});
    ASSERT_TRUE(waitUntil([&] { return !viewer.files->isActive(); }));
    EXPECT_EQ(sent->back().kind, Outcome::Kind::sent);
    EXPECT_EQ(received, bytes);

    // The receiver's cancel ends the transfer; so does its silence (with a
    // cancel to it).
    ASSERT_TRUE(viewer.files->startSending((source / "data.bin").string()));
    const auto second = peer.next<FileOfferMessage>();
    ASSERT_TRUE(second);
    peer.send(FileCancelMessage{.transferId = second->transferId});
    ASSERT_TRUE(waitUntil([&] { return !viewer.files->isActive(); }));
    EXPECT_EQ(sent->back().kind, Outcome::Kind::cancelled);
    ASSERT_TRUE(viewer.files->startSending((source / "data.bin").string()));
    const auto third = peer.next<FileOfferMessage>();
    ASSERT_TRUE(third);
    const auto cancel = peer.next<FileCancelMessage>("file_cancel", 5s);
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->transferId, third->transferId);
    EXPECT_EQ(sent->back().kind, Outcome::Kind::failed);
}

// Its success (exit code 0 once the Host stored the file) is the memory
// test's.
TEST_F(FileTransfer, HeadlessViewerExitsOneWhenItCannotReadTheFile) {
    Side host({.files = into(folder("host"))});
    const auto done =
        runVelmarin(velmarinEnvironment({}, env.relay),
                    {"view", hosting(host), "k7m2pq", "--send-file",
                     QString::fromStdString((folder("bron") / "ontbreekt.bin").string())});
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_TRUE((done.out + done.err)
                    .contains(QStringLiteral("Bestand ontbreekt.bin kan niet worden gelezen.")))
        << (done.out + done.err).toStdString();
}

} // namespace
} // namespace velmarin::testing
