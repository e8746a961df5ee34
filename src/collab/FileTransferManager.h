#pragma once

// File transfer on both sides of a session, one transfer at a time.
//
// Sending: the file is offered, and once the peer accepts, chunks of 64 KiB
// are read from the file as they go out, in standard Base64. A small window
// of chunks may be in flight; the acknowledged index (not a local count)
// decides which chunk goes next, so a peer that answers and sends one chunk
// at a time works with us both ways.
//
// Receiving: an offer is accepted when idle and refused while busy. Each
// chunk is checked against the offer and written straight into a hidden
// partial file in the Downloads folder, which gets its final name only once
// every byte is there. Anything inconsistent, a failed write, 30 s without a
// word from the peer or the end of the session ends the transfer and removes
// the partial file; an existing file is never overwritten.
//
// GUI thread only.

#include "interfaces/SessionComponents.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>

namespace velmarin::collab {

inline constexpr std::int64_t kFileChunkBytes = 65536;

// Chunks of a file of `size` bytes: at least one (an empty file has one
// empty chunk).
std::int64_t chunkCount(std::int64_t size);

class FileTransferManager final : public FileTransferHandler {
public:
    struct Options {
        std::filesystem::path downloads;
        // Chunks in flight before the sender waits for an acknowledgement.
        int window = 8;
        // A peer silent this long ends the transfer.
        std::chrono::milliseconds silenceTimeout = std::chrono::seconds(30);
        // The Unix time in seconds, for the names of received files.
        std::function<std::int64_t()> unixSeconds;
    };

    explicit FileTransferManager(Options options);
    ~FileTransferManager() override;

    bool startSending(const std::string& path) override;
    void handleOffer(const protocol::FileOfferMessage& message) override;
    void handleAccept(const std::string& transferId) override;
    void handleReject(const std::string& transferId) override;
    void handleCancel(const std::string& transferId) override;
    void handleChunk(const protocol::FileChunkMessage& message) override;
    void handleAck(const std::string& transferId, std::int64_t chunkIndex) override;
    void handleComplete(const std::string& transferId) override;
    void endSession() override;
    double progress() const override { return m_progress; }
    bool isActive() const override { return m_sending || m_receiving; }

private:
    // An open file descriptor, closed with its owner.
    class Fd {
    public:
        Fd() = default;
        explicit Fd(int fd)
            : m_fd(fd) {}
        Fd(Fd&& other) noexcept
            : m_fd(std::exchange(other.m_fd, -1)) {}
        Fd& operator=(Fd&& other) noexcept;
        ~Fd();
        int get() const { return m_fd; }
        // Closes now; the error of close(2) counts for a written file.
        int close();

    private:
        int m_fd = -1;
    };

    struct Sending {
        std::string transferId;
        std::string fileName;
        Fd file;
        std::int64_t size = 0;
        std::int64_t totalChunks = 0;
        bool accepted = false;
        // Chunks below `acknowledged` are confirmed; `next` is the next to go.
        std::int64_t acknowledged = 0;
        std::int64_t next = 0;
    };

    struct Receiving {
        std::string transferId;
        std::string fileName; // as offered, made safe
        Fd folder;
        Fd file;
        std::string partName;
        std::int64_t size = 0;
        std::int64_t totalChunks = 0;
        // Chunks 0 … contiguous − 1 are written, and those in `beyond`.
        std::int64_t contiguous = 0;
        std::set<std::int64_t> beyond;
    };

    template <class M> void send(const M& message);
    void sendWindow();
    bool sendChunk(std::int64_t index);
    // Ends the active transfer: the partial file goes, `outcome` is reported.
    void finish(Outcome::Kind kind, std::string reason, std::string savedPath = {});
    // Ends it with file_cancel to the peer.
    void cancel(Outcome::Kind kind, std::string reason);
    void storeChunk(std::int64_t index, std::span<const std::uint8_t> bytes);
    std::optional<std::string> moveIntoPlace();
    std::string activeName() const;
    void peerHeard();

    Options m_options;
    std::optional<Sending> m_sending;
    std::optional<Receiving> m_receiving;
    double m_progress = 0;
    QTimer m_silence;
};

} // namespace velmarin::collab
