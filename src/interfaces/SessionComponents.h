#pragma once

// The coordinator's plug-in points: every session component that a later
// part of the application provides (capture and encoder, input injection and
// capture, clipboard, file transfer, annotation overlay, display, recording)
// is reached through one of these small interfaces. The coordinator owns what
// it is given; a component that is absent is simply not driven.
//
// Unless a method says otherwise it is called on the GUI thread.

#include "common/Expected.h"
#include "protocol/NALUParser.h"
#include "protocol/ProtocolMessages.h"
#include "video/Picture.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmarin {

namespace transport {
class WebSocketManager;
}

// The size of the captured display, as sent in "screen_info".
struct ScreenInfo {
    std::int64_t width = 0;
    std::int64_t height = 0;
    double scaleFactor = 1.0;
    bool operator==(const ScreenInfo&) const = default;
};

// Why the capture could not start; `description` is the Dutch text for the
// user, `kind` what code compares.
struct CaptureFailure {
    enum class Kind { noDisplay, notPermitted, encoder };
    Kind kind = Kind::notPermitted;
    QString description;
};

// Host: captures one display and encodes it. One instance per hosting
// session, made by SessionComponents::makeCapture.
class HostCapture {
public:
    // Receives one complete binary frame message (header and payload).
    // Called on the capture thread.
    using EncodedFrameHandler = std::function<void(protocol::Bytes message)>;

    virtual ~HostCapture() = default;

    // Starts capturing and encoding.
    virtual QCoro::Task<Expected<void, CaptureFailure>> startCapture() = 0;
    // Stops capturing; no frame is delivered after it completes.
    virtual QCoro::Task<void> stopCapture() = 0;

    // Reads the display layout again; monitors() reflects it afterwards.
    virtual QCoro::Task<void> refreshDisplays() = 0;
    virtual std::vector<protocol::MonitorInfo> monitors() const = 0;
    // The captured display, when capture runs.
    virtual std::optional<ScreenInfo> screenInfo() const = 0;
    // Switches the captured display; unknown ids are ignored.
    virtual QCoro::Task<void> selectMonitor(std::int64_t id) = 0;

    virtual void updateQuality(std::int64_t bitrate, int fps) = 0;
    // Windows (X11 window ids) never to be captured: the annotation overlay.
    virtual void setExcludedWindowIds(std::vector<std::uint32_t> ids) = 0;

    // The encoder: where finished frames go (replaces the previous handler;
    // an empty handler drops frames) and the request for a key frame.
    virtual void setOnEncodedFrame(EncodedFrameHandler handler) = 0;
    // Called on the capture thread when the capture ends by itself (the
    // display or the compositor's cast went away); an empty handler drops it.
    virtual void setOnStopped(std::function<void()> handler) = 0;
    // Any thread.
    virtual void forceNextKeyframe() = 0;
};

// Host: turns the Viewer's input messages into system input. One instance
// per hosting session, made by SessionComponents::makeHostInput: a process
// that is not sharing its desktop has no way to inject input at all.
class HostInput {
public:
    virtual ~HostInput() = default;
    virtual void injectMouseEvent(const protocol::MouseEventMessage& message) = 0;
    virtual void injectKeyEvent(const protocol::KeyEventMessage& message) = 0;
    // Releases every modifier the Viewer left pressed.
    virtual void releaseAllModifiers() = 0;
};

// Viewer: sends local mouse and key input over the picture as "mouse" and
// "key" messages. One instance per viewing session.
class ViewerInput {
public:
    virtual ~ViewerInput() = default;
    virtual void startCapturing() = 0;
    virtual void stopCapturing() = 0;
};

// Both sides: keeps the local clipboard and the peer's in step.
class ClipboardSync {
public:
    virtual ~ClipboardSync() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Text that came from the peer; must not be reported back as a change.
    virtual void setClipboard(const QString& content, const QString& clipId) = 0;
    // The user copied text locally (GUI thread).
    std::function<void(const QString& text)> onClipboardChanged;
};

// Both sides: one file transfer at a time, in acknowledged chunks. Received
// files land in the Downloads folder.
class FileTransferHandler {
public:
    // How a transfer ended. `reason` is the Dutch text for the user (empty
    // for `sent` and `received`).
    struct Outcome {
        enum class Kind { sent, received, rejected, cancelled, failed };
        Kind kind = Kind::failed;
        std::string fileName;  // as offered or sent
        std::string savedPath; // received: where the file is now
        std::string reason;
    };

    virtual ~FileTransferHandler() = default;
    // Offers the local file at `path` to the peer. False when a transfer is
    // running or the file cannot be read (onFinished says why).
    virtual bool startSending(const std::string& path) = 0;
    virtual void handleOffer(const protocol::FileOfferMessage& message) = 0;
    virtual void handleAccept(const std::string& transferId) = 0;
    virtual void handleReject(const std::string& transferId) = 0;
    virtual void handleCancel(const std::string& transferId) = 0;
    virtual void handleChunk(const protocol::FileChunkMessage& message) = 0;
    virtual void handleAck(const std::string& transferId, std::int64_t chunkIndex) = 0;
    // The peer stored the file; ends the active transfer whatever the id.
    virtual void handleComplete(const std::string& transferId) = 0;
    // The session with the peer ended: the transfer ends without a word.
    virtual void endSession() = 0;
    // 0 to 1 for the active transfer.
    virtual double progress() const = 0;
    virtual bool isActive() const = 0;
    // A control message (JSON text) the manager wants sent (GUI thread).
    std::function<void(std::string json)> sendMessage;
    // A transfer ended, or a start failed (GUI thread).
    std::function<void(const Outcome& outcome)> onFinished;
};

// Host: the transparent window that shows the Viewer's annotations.
class AnnotationOverlay {
public:
    virtual ~AnnotationOverlay() = default;
    virtual void ensureWindow() = 0;
    // The X11 id of the overlay window once it exists.
    virtual std::optional<std::uint32_t> windowId() const = 0;
    virtual void apply(const protocol::DrawMessage& message) = 0;
    virtual void clearStrokes() = 0;
    // Spotlight position, radius and state; redraws.
    virtual void setSpotlight(const protocol::SpotlightMessage& message) = 0;
    // The Viewer's pointer at normalised (x, y) with a label.
    virtual void showRemoteCursor(double x, double y, const QString& label) = 0;
    virtual void hide() = 0;
};

// Viewer: shows decoded pictures.
class VideoDisplay {
public:
    virtual ~VideoDisplay() = default;
    // Called on the decode thread.
    virtual void render(const video::Picture& picture) = 0;
    // Forgets the session: the display view, the latest picture and whether
    // the first frame was reported.
    virtual void resetSession() = 0;
    // Frames per second shown (any thread).
    std::function<void(double fps)> onFPSUpdate;
    // A JPEG of the first picture of a viewing session (any thread).
    std::function<void(QByteArray jpeg)> onFirstFrame;
};

// Viewer: records the session to a movie file.
class SessionRecorder {
public:
    virtual ~SessionRecorder() = default;
    // Called on the decode thread.
    virtual void append(const video::Picture& picture) = 0;
    // Starts recording into `file`, or into a new file in the Videos folder
    // when it is empty; does nothing while recording.
    virtual void start(const QString& file) = 0;
    // Safe when not recording.
    virtual void stop() = 0;
    // The file of the current or last recording (any thread).
    virtual QString outputPath() const = 0;
    // Recording started or stopped (GUI thread).
    std::function<void(bool recording)> onStateChange;
};

// Viewer: the list of recent connections.
class RecentConnectionsStore {
public:
    virtual ~RecentConnectionsStore() = default;
    virtual void save(const QString& hostID, const QString& password,
                      const QByteArray& thumbnail) = 0;
};

// Everything the coordinator is given at construction. All optional.
struct SessionComponents {
    std::function<std::unique_ptr<HostCapture>()> makeCapture;
    std::function<std::unique_ptr<HostInput>()> makeHostInput;
    // `hostScreenSize` always answers the size the Host reported last.
    std::function<std::unique_ptr<ViewerInput>(transport::WebSocketManager& webSocket,
                                               std::function<QSizeF()> hostScreenSize)>
        makeViewerInput;
    std::unique_ptr<ClipboardSync> clipboard;
    std::unique_ptr<FileTransferHandler> fileTransfer;
    std::function<std::unique_ptr<AnnotationOverlay>()> makeOverlay;
    std::unique_ptr<VideoDisplay> display;
    std::unique_ptr<SessionRecorder> recorder;
    // Played when a Viewer connects.
    std::function<void()> playViewerConnectedSound;
};

} // namespace velmarin
