#include "collab/FileTransferManager.h"

#include "collab/ReceivedFileName.h"
#include "protocol/ProtocolEncoder.h"

#include <QByteArray>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmarin::collab {

using namespace protocol;
using Kind = FileTransferHandler::Outcome::Kind;

namespace {

// The most names tried for one received file before giving up.
constexpr int kMaxNameAttempts = 1000;

std::string failedWrite(const std::string& name, int error) {
    std::string why;
    if (error == ENOSPC || error == EDQUOT)
        why = "de schijf is vol";
    else if (error == EFBIG)
        why = "het bestand is te groot voor de schijf";
    else if (error == ENOTDIR || error == ENOENT)
        why = "de map Downloads kan niet worden gemaakt";
    else if (error == EACCES || error == EPERM || error == EROFS)
        why = "geen schrijfrechten in de map Downloads";
    else
        why = std::string("schrijffout (") + std::strerror(error) + ")";
    return "Bestand " + name + " kon niet worden opgeslagen: " + why + ".";
}

std::string stopped(const std::string& name, const std::string& why) {
    return "Bestandsoverdracht van " + name + " afgebroken" + why;
}

// Reads or writes all of `length` bytes at `offset`; false on failure or a
// file that ended early (errno says which, 0 for the end).
template <class Call> bool wholeIo(Call call, std::int64_t length, std::int64_t offset) {
    std::int64_t done = 0;
    while (done < length) {
        const ssize_t n = call(done, static_cast<std::size_t>(length - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

std::int64_t chunkCount(std::int64_t size) {
    // Without overflow for sizes near the top of the range.
    return size <= 0 ? 1 : size / kFileChunkBytes + (size % kFileChunkBytes != 0 ? 1 : 0);
}

FileTransferManager::Fd& FileTransferManager::Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileTransferManager::Fd::~Fd() {
    close();
}

int FileTransferManager::Fd::close() {
    if (m_fd < 0)
        return 0;
    return ::close(std::exchange(m_fd, -1));
}

FileTransferManager::FileTransferManager(Options options)
    : m_options(std::move(options)) {
    if (!m_options.unixSeconds)
        m_options.unixSeconds = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    m_silence.setSingleShot(true);
    QObject::connect(&m_silence, &QTimer::timeout, [this] {
        cancel(Kind::failed, stopped(activeName(), ": de andere kant reageert niet meer."));
    });
}

FileTransferManager::~FileTransferManager() {
    // A partial file never outlives its transfer.
    if (m_receiving)
        ::unlinkat(m_receiving->folder.get(), m_receiving->partName.c_str(), 0);
}

template <class M> void FileTransferManager::send(const M& message) {
    if (auto text = ProtocolEncoder::encode(message); text && sendMessage)
        sendMessage(std::move(*text));
}

std::string FileTransferManager::activeName() const {
    return m_sending ? m_sending->fileName : m_receiving ? m_receiving->fileName : std::string();
}

void FileTransferManager::peerHeard() {
    m_silence.start(m_options.silenceTimeout);
}

bool FileTransferManager::startSending(const std::string& path) {
    // Offered as valid UTF-8 whatever bytes the local name holds.
    const std::string name =
        QFile::decodeName(QByteArray::fromStdString(path.substr(path.rfind('/') + 1)))
            .toStdString();
    const auto refuse = [&](std::string reason) {
        if (onFinished)
            onFinished(
                Outcome{.kind = Kind::failed, .fileName = name, .reason = std::move(reason)});
        return false;
    };
    if (isActive())
        return refuse("Bestand " + name + " niet verstuurd: er loopt al een bestandsoverdracht.");
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return refuse("Bestand " + name + " kan niet worden gelezen.");
    Sending sending{
        .transferId =
            QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toLower().toStdString(),
        .fileName = name,
        .file = std::move(file),
        .size = status.st_size,
        .totalChunks = chunkCount(status.st_size),
    };
    m_sending = std::move(sending);
    m_progress = 0;
    peerHeard();
    send(FileOfferMessage{.transferId = m_sending->transferId,
                          .fileName = name,
                          .fileSize = m_sending->size,
                          .totalChunks = m_sending->totalChunks,
                          .sender = "viewer"});
    return true;
}

void FileTransferManager::handleAccept(const std::string& transferId) {
    if (!m_sending || m_sending->transferId != transferId || m_sending->accepted)
        return;
    m_sending->accepted = true;
    peerHeard();
    sendWindow();
}

void FileTransferManager::handleAck(const std::string& transferId, std::int64_t chunkIndex) {
    if (!m_sending || m_sending->transferId != transferId || chunkIndex < 0 ||
        chunkIndex >= m_sending->totalChunks)
        return;
    Sending& s = *m_sending;
    // An acknowledgement moves on to the chunk after it, also past chunks
    // still outstanding; an older one changes nothing.
    s.acknowledged = std::max(s.acknowledged, chunkIndex + 1);
    s.next = std::max(s.next, s.acknowledged);
    m_progress = static_cast<double>(s.acknowledged) / static_cast<double>(s.totalChunks);
    peerHeard();
    // After the last one the transfer waits for the peer's file_complete.
    sendWindow();
}

void FileTransferManager::sendWindow() {
    while (m_sending && m_sending->accepted && m_sending->next < m_sending->totalChunks &&
           m_sending->next < m_sending->acknowledged + m_options.window) {
        if (!sendChunk(m_sending->next))
            return;
        ++m_sending->next;
    }
}

bool FileTransferManager::sendChunk(std::int64_t index) {
    Sending& s = *m_sending;
    const std::int64_t offset = index * kFileChunkBytes;
    const std::int64_t length = std::min(kFileChunkBytes, s.size - offset);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)));
    const int fd = s.file.get();
    const bool read =
        wholeIo([&](std::int64_t done, std::size_t count,
                    std::int64_t at) { return ::pread(fd, bytes.data() + done, count, at); },
                length, offset);
    if (!read) {
        cancel(Kind::failed, "Bestand " + s.fileName + " kan niet worden gelezen.");
        return false;
    }
    send(
        FileChunkMessage{.transferId = s.transferId,
                         .chunkIndex = index,
                         .data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<qsizetype>(bytes.size()))
                                     .toBase64()
                                     .toStdString()});
    return true;
}

void FileTransferManager::handleOffer(const FileOfferMessage& message) {
    if (isActive()) {
        send(FileRejectMessage{.transferId = message.transferId});
        return;
    }
    // The peer's name only ever appears made safe, also in messages.
    const std::string name = safeFileName(message.fileName);
    const auto refuse = [&](std::string reason) {
        send(FileCancelMessage{.transferId = message.transferId});
        m_progress = 0;
        if (onFinished)
            onFinished(
                Outcome{.kind = Kind::failed, .fileName = name, .reason = std::move(reason)});
    };
    if (message.fileSize < 0 || message.totalChunks != chunkCount(message.fileSize))
        return refuse(stopped(name, ": ongeldige gegevens ontvangen."));

    Receiving r{.transferId = message.transferId,
                .fileName = name,
                .size = message.fileSize,
                .totalChunks = message.totalChunks};
    std::error_code ignored;
    std::filesystem::create_directories(m_options.downloads, ignored);
    r.folder = Fd(::open(m_options.downloads.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (r.folder.get() < 0)
        return refuse(failedWrite(name, errno));
    // Hidden until complete; O_EXCL never reuses or follows an existing name.
    for (int attempt = 1; r.file.get() < 0 && attempt <= kMaxNameAttempts; ++attempt) {
        r.partName = "." + r.fileName +
                     (attempt > 1 ? "." + std::to_string(attempt) : std::string()) +
                     ".velmarin-part";
        r.file = Fd(::openat(r.folder.get(), r.partName.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (r.file.get() < 0 && errno != EEXIST)
            return refuse(failedWrite(name, errno));
    }
    if (r.file.get() < 0)
        return refuse(failedWrite(name, EEXIST));
    m_receiving = std::move(r);
    m_progress = 0;
    peerHeard();
    send(FileAcceptMessage{.transferId = message.transferId});
}

void FileTransferManager::handleChunk(const FileChunkMessage& message) {
    if (!m_receiving || m_receiving->transferId != message.transferId)
        return;
    // Not Base64: dropped without an acknowledgement; the sender may repeat it.
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray::fromRawData(message.data.data(), static_cast<qsizetype>(message.data.size())),
        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return;
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(decoded.decoded.constData()),
                          static_cast<std::size_t>(decoded.decoded.size()));
    Receiving& r = *m_receiving;
    const std::int64_t index = message.chunkIndex;
    // Chunk i holds exactly the bytes [i × 64 KiB, min((i + 1) × 64 KiB, size)).
    if (index < 0 || index >= r.totalChunks ||
        static_cast<std::int64_t>(bytes.size()) !=
            std::min(kFileChunkBytes, r.size - index * kFileChunkBytes))
        return cancel(Kind::failed, stopped(r.fileName, ": ongeldige gegevens ontvangen."));
    storeChunk(index, bytes);
}

void FileTransferManager::storeChunk(std::int64_t index, std::span<const std::uint8_t> bytes) {
    Receiving& r = *m_receiving;
    const int fd = r.file.get();
    const bool written =
        wholeIo([&](std::int64_t done, std::size_t count,
                    std::int64_t at) { return ::pwrite(fd, bytes.data() + done, count, at); },
                static_cast<std::int64_t>(bytes.size()), index * kFileChunkBytes);
    if (!written)
        return cancel(Kind::failed, failedWrite(r.fileName, errno ? errno : EIO));

    // A repeated chunk replaced its bytes and counts once.
    if (index == r.contiguous) {
        ++r.contiguous;
        while (!r.beyond.empty() && *r.beyond.begin() == r.contiguous) {
            r.beyond.erase(r.beyond.begin());
            ++r.contiguous;
        }
    } else if (index > r.contiguous) {
        r.beyond.insert(index);
    }
    const auto stored = r.contiguous + static_cast<std::int64_t>(r.beyond.size());
    m_progress = static_cast<double>(stored) / static_cast<double>(r.totalChunks);
    peerHeard();
    if (stored < r.totalChunks) {
        send(FileAckMessage{.transferId = r.transferId, .chunkIndex = index});
        return;
    }
    // The last chunk is acknowledged only once the file is in place.
    const std::string transferId = r.transferId;
    std::string saved;
    if (const auto finalName = moveIntoPlace())
        saved = m_options.downloads.string() + "/" + *finalName;
    else
        return cancel(Kind::failed, failedWrite(r.fileName, errno ? errno : EIO));
    send(FileAckMessage{.transferId = transferId, .chunkIndex = index});
    send(FileCompleteMessage{.transferId = transferId});
    finish(Kind::received, {}, saved);
}

std::optional<std::string> FileTransferManager::moveIntoPlace() {
    Receiving& r = *m_receiving;
    if (r.file.close() != 0)
        return std::nullopt;
    const std::int64_t seconds = m_options.unixSeconds();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::string name =
            attempt == 0 ? r.fileName : alternativeName(r.fileName, seconds, attempt);
        const int folder = r.folder.get();
        int result =
            ::renameat2(folder, r.partName.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
        // File systems without the flag: a hard link refuses an existing name too.
        if (result != 0 && errno == EINVAL) {
            result = ::linkat(folder, r.partName.c_str(), folder, name.c_str(), 0);
            if (result == 0)
                ::unlinkat(folder, r.partName.c_str(), 0);
        }
        if (result == 0) {
            r.partName.clear();
            return name;
        }
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

void FileTransferManager::handleReject(const std::string& transferId) {
    if (m_sending && m_sending->transferId == transferId)
        finish(Kind::rejected,
               "Bestand " + m_sending->fileName +
                   " niet verstuurd: de andere kant is bezig met een andere overdracht.");
    else if (m_receiving && m_receiving->transferId == transferId)
        finish(Kind::cancelled, stopped(m_receiving->fileName, " door de andere kant."));
}

void FileTransferManager::handleCancel(const std::string& transferId) {
    if (!isActive())
        return;
    const std::string& active = m_sending ? m_sending->transferId : m_receiving->transferId;
    if (active == transferId)
        finish(Kind::cancelled, stopped(activeName(), " door de andere kant."));
}

void FileTransferManager::handleComplete(const std::string& transferId) {
    if (m_sending && m_sending->transferId == transferId &&
        m_sending->acknowledged >= m_sending->totalChunks)
        finish(Kind::sent, {});
    else if (isActive())
        finish(Kind::cancelled, stopped(activeName(), " door de andere kant."));
}

void FileTransferManager::endSession() {
    if (isActive())
        finish(Kind::cancelled, stopped(activeName(), ": de verbinding is verbroken."));
}

void FileTransferManager::cancel(Outcome::Kind kind, std::string reason) {
    const std::string transferId = m_sending ? m_sending->transferId : m_receiving->transferId;
    send(FileCancelMessage{.transferId = transferId});
    finish(kind, std::move(reason));
}

void FileTransferManager::finish(Outcome::Kind kind, std::string reason, std::string savedPath) {
    m_silence.stop();
    Outcome outcome{.kind = kind,
                    .fileName = activeName(),
                    .savedPath = std::move(savedPath),
                    .reason = std::move(reason)};
    if (m_receiving && !m_receiving->partName.empty())
        ::unlinkat(m_receiving->folder.get(), m_receiving->partName.c_str(), 0);
    m_sending.reset();
    m_receiving.reset();
    m_progress = kind == Kind::sent || kind == Kind::received ? 1.0 : 0.0;
    if (onFinished)
        onFinished(outcome);
}

} // namespace velmarin::collab
