#pragma once

// Writes pictures into an MPEG-4 file with one H.264 track. The track takes
// the size it was created with; a picture of another size (the Host switched
// displays) is scaled to fit inside it, letterboxed on black, so the file
// stays valid.
//
// The file is fragmented (a fragment per key frame, about every two
// seconds): if the program dies or the disk fills up, everything up to the
// last fragment still plays. `finish` adds the closing index.
//
// The file is always a new one, owner-only (see OutputFile): a recording
// shows someone's screen.
//
// Not thread-safe: one thread (the recording thread) uses it.

#include "video/Picture.h"
#include "video/playback/OutputFile.h"
#include "video/playback/PictureScaler.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>


struct AVCodecContext;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace velmarin::video {

// Why a recording could not be written, with the Dutch text for the user.
struct RecordingError {
    std::string description;
};

class MovieWriter {
public:
    static constexpr int kTimeScale = 600;
    static constexpr int kKeyframeInterval = 60;

    // Creates a new file at `path` for pictures of this size; fails when
    // something has that name already.
    static Expected<std::unique_ptr<MovieWriter>, RecordingError>
    create(const std::string& path, int width, int height);
    // Writes into `file`, which the caller created.
    static Expected<std::unique_ptr<MovieWriter>, RecordingError> create(OutputFile file,
                                                                         int width, int height);

    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Encodes one picture shown at `sinceStart` (times that do not increase
    // are moved just after the previous one). An error means the file cannot
    // take more (disk full, I/O error); what was written so far stays.
    Expected<void, RecordingError> write(const Picture& picture,
                                         std::chrono::nanoseconds sinceStart);

    // Flushes the encoder and writes the closing index; the writer takes no
    // more pictures afterwards.
    Expected<void, RecordingError> finish();

    int width() const { return m_width; }
    int height() const { return m_height; }
    std::int64_t picturesWritten() const { return m_picturesWritten; }

private:
    struct FormatDeleter {
        void operator()(AVFormatContext* context) const;
    };
    struct IOContextDeleter {
        void operator()(AVIOContext* context) const;
    };
    struct CodecDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    MovieWriter(OutputFile file, int width, int height);
    Expected<void, RecordingError> open();
    Expected<void, RecordingError> send(const AVFrame* frame);
    Picture fitToTrack(const Picture& picture);

    const int m_width;
    const int m_height;
    // The muxer writes through m_io into m_file; both outlive the muxer.
    OutputFile m_file;
    std::unique_ptr<AVIOContext, IOContextDeleter> m_io;
    std::unique_ptr<AVFormatContext, FormatDeleter> m_format;
    std::unique_ptr<AVCodecContext, CodecDeleter> m_codec;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    PictureScaler m_scaler;
    std::int64_t m_lastPts = -1;
    std::int64_t m_picturesWritten = 0;
    bool m_headerWritten = false;
    bool m_finished = false;
    bool m_failed = false;
};

} // namespace velmarin::video
