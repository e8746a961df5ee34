#include "video/playback/MovieWriter.h"

#include "video/EncoderProfile.h"
#include "log/LogSink.h"
#include "video/CodecLog.h"
#include "video/playback/AspectFit.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmarin::video {

namespace {

std::string errorText(int code) {
    if (code == AVERROR(ENOSPC))
        return "de schijf is vol";
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

RecordingError writeFailure(int code) {
    return {"Schrijven van de opname mislukt: " + errorText(code)};
}

RecordingError createFailure(const std::string& reason) {
    return {"Opnamebestand kan niet worden aangemaakt: " + reason};
}

// The muxer's output, straight into the file's descriptor. Errors come back
// as AVERROR codes, which the muxer keeps in its context's `error`.
int writeToFile(void* opaque, std::uint8_t* data, int size) {
    const int descriptor = static_cast<const OutputFile*>(opaque)->descriptor();
    for (int written = 0; written < size;) {
        const ssize_t n =
            ::write(descriptor, data + written, static_cast<std::size_t>(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        written += static_cast<int>(n);
    }
    return size;
}

std::int64_t seekInFile(void* opaque, std::int64_t offset, int whence) {
    const int descriptor = static_cast<const OutputFile*>(opaque)->descriptor();
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(descriptor, &info) == 0 ? info.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(descriptor, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

constexpr int kIOBufferSize = 64 * 1024;

// Black in limited-range YUV 4:2:0.
void fillBlack(const AVFrame* frame) {
    for (int y = 0; y < frame->height; ++y)
        std::memset(frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0], 16,
                    static_cast<std::size_t>(frame->width));
    const int chromaWidth = (frame->width + 1) / 2;
    for (int y = 0; y < (frame->height + 1) / 2; ++y) {
        std::memset(frame->data[1] + std::ptrdiff_t(y) * frame->linesize[1], 128,
                    static_cast<std::size_t>(chromaWidth));
        std::memset(frame->data[2] + std::ptrdiff_t(y) * frame->linesize[2], 128,
                    static_cast<std::size_t>(chromaWidth));
    }
}

} // namespace

void MovieWriter::FormatDeleter::operator()(AVFormatContext* context) const {
    // Its pb is m_io, freed on its own.
    avformat_free_context(context);
}
void MovieWriter::IOContextDeleter::operator()(AVIOContext* context) const {
    av_freep(&context->buffer);
    avio_context_free(&context);
}
void MovieWriter::CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void MovieWriter::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

MovieWriter::MovieWriter(OutputFile file, int width, int height)
    : m_width(width)
    , m_height(height)
    , m_file(std::move(file)) {}

MovieWriter::~MovieWriter() {
    // A writer dropped while still open closes the file properly; nobody
    // is left to hear how that went.
    if (m_headerWritten && !m_finished && !m_failed)
        static_cast<void>(finish());
}

Expected<std::unique_ptr<MovieWriter>, RecordingError>
MovieWriter::create(const std::string& path, int width, int height) {
    auto file = OutputFile::createNew(path);
    if (!file)
        return unexpected(createFailure(file.error().message()));
    auto created = create(std::move(*file), width, height);
    if (!created) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return created;
}

Expected<std::unique_ptr<MovieWriter>, RecordingError>
MovieWriter::create(OutputFile file, int width, int height) {
    // 4:2:0 needs even sizes; the odd last column or row is dropped.
    width &= ~1;
    height &= ~1;
    if (width <= 0 || height <= 0)
        return unexpected(RecordingError{"Het beeld is te klein om op te nemen."});
    std::unique_ptr<MovieWriter> writer(new MovieWriter(std::move(file), width, height));
    if (auto opened = writer->open(); !opened)
        return unexpected(opened.error());
    return writer;
}

Expected<void, RecordingError> MovieWriter::open() {
    routeCodecLogs();
    AVFormatContext* format = nullptr;
    int result = avformat_alloc_output_context2(&format, nullptr, "mp4", nullptr);
    if (result < 0 || !format)
        return unexpected(RecordingError{"Opnamebestand kan niet worden aangemaakt: " + errorText(result)});
    m_format.reset(format);

    // The same x264 set-up as the live stream (fast, High profile, no
    // look-ahead, so a picture leaves the encoder at once), but at constant
    // quality: a recording has no bandwidth to keep to.
    const EncoderProfile profile = libx264Profile();
    const AVCodec* codec = avcodec_find_encoder_by_name(profile.codecName.c_str());
    if (!codec)
        return unexpected(RecordingError{"Geen H.264-encoder beschikbaar voor de opname."});
    m_codec.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_packet)
        return unexpected(RecordingError{"Onvoldoende geheugen voor de opname."});
    m_codec->width = m_width;
    m_codec->height = m_height;
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->color_range = AVCOL_RANGE_MPEG;
    m_codec->time_base = AVRational{1, kTimeScale};
    m_codec->gop_size = kKeyframeInterval;
    m_codec->max_b_frames = 0;
    m_codec->thread_count =
        static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    for (const auto& [name, value] : profile.options)
        av_opt_set(m_codec->priv_data, name.c_str(), value.c_str(), 0);
    av_opt_set(m_codec->priv_data, "crf", "23", 0);
    if ((result = avcodec_open2(m_codec.get(), codec, nullptr)) < 0)
        return unexpected(RecordingError{"De encoder voor de opname start niet: " + errorText(result)});

    AVStream* stream = avformat_new_stream(m_format.get(), nullptr);
    if (!stream)
        return unexpected(RecordingError{"Onvoldoende geheugen voor de opname."});
    stream->time_base = m_codec->time_base;
    if ((result = avcodec_parameters_from_context(stream->codecpar, m_codec.get())) < 0)
        return unexpected(RecordingError{"De encoder voor de opname start niet: " + errorText(result)});

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIOBufferSize));
    if (!buffer)
        return unexpected(RecordingError{"Onvoldoende geheugen voor de opname."});
    m_io.reset(
        avio_alloc_context(buffer, kIOBufferSize, 1, &m_file, nullptr, writeToFile, seekInFile));
    if (!m_io) {
        av_free(buffer);
        return unexpected(RecordingError{"Onvoldoende geheugen voor de opname."});
    }
    m_format->pb = m_io.get();
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    result = avformat_write_header(m_format.get(), &options);
    av_dict_free(&options);
    if (result < 0)
        return unexpected(writeFailure(result));
    m_headerWritten = true;
    return {};
}

Picture MovieWriter::fitToTrack(const Picture& picture) {
    if (picture.width() == m_width && picture.height() == m_height &&
        picture.format() == AV_PIX_FMT_YUV420P && !isFullRange(picture))
        return picture;
    Picture out = Picture::allocate(m_width, m_height, AV_PIX_FMT_YUV420P);
    if (out.isNull())
        return {};
    const AVFrame* frame = out.avFrame();
    const protocol::PixelRect rect =
        aspectFit(picture.width(), picture.height(), m_width, m_height, 2);
    if (rect.width != m_width || rect.height != m_height)
        fillBlack(frame);
    std::uint8_t* planes[4] = {
        frame->data[0] + std::ptrdiff_t(rect.y) * frame->linesize[0] + rect.x,
        frame->data[1] + std::ptrdiff_t(rect.y / 2) * frame->linesize[1] + rect.x / 2,
        frame->data[2] + std::ptrdiff_t(rect.y / 2) * frame->linesize[2] + rect.x / 2, nullptr};
    const int strides[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], 0};
    if (!m_scaler.scale(picture, rect.width, rect.height, AV_PIX_FMT_YUV420P, planes, strides))
        return {};
    return out;
}

Expected<void, RecordingError> MovieWriter::write(const Picture& picture,
                                                 std::chrono::nanoseconds sinceStart) {
    if (m_finished || m_failed || !m_headerWritten)
        return unexpected(RecordingError{"De opname is al afgesloten."});
    const Picture fitted = fitToTrack(picture);
    if (fitted.isNull())
        return {}; // an unusable picture costs only itself
    // The encoder stamps its own copy of the frame; the picture stays
    // read-only for its other holders.
    AVFramePtr frame(av_frame_clone(fitted.avFrame()));
    if (!frame)
        return {};
    frame->format = AV_PIX_FMT_YUV420P;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    const std::int64_t pts = sinceStart.count() * kTimeScale / 1'000'000'000;
    frame->pts = std::max(pts, m_lastPts + 1);
    m_lastPts = frame->pts;
    if (auto sent = send(frame.get()); !sent)
        return sent;
    ++m_picturesWritten;
    return {};
}

Expected<void, RecordingError> MovieWriter::send(const AVFrame* frame) {
    int result = avcodec_send_frame(m_codec.get(), frame);
    if (result < 0 && result != AVERROR_EOF) {
        m_failed = true;
        return unexpected(RecordingError{"De encoder van de opname faalde: " + errorText(result)});
    }
    AVStream* stream = m_format->streams[0];
    while ((result = avcodec_receive_packet(m_codec.get(), m_packet.get())) >= 0) {
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, stream->time_base);
        m_packet->stream_index = stream->index;
        const bool key = m_packet->flags & AV_PKT_FLAG_KEY;
        result = av_interleaved_write_frame(m_format.get(), m_packet.get());
        // A key frame closes the previous fragment: push it to the file, so
        // a crash loses at most the fragment being written.
        if (result >= 0 && key) {
            avio_flush(m_format->pb);
            result = m_format->pb->error;
        }
        if (result < 0) {
            m_failed = true;
            logging::log(logging::Level::error, "decoding", "Recording: write failed: %s",
                errorText(result).c_str());
            return unexpected(writeFailure(result));
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        m_failed = true;
        return unexpected(RecordingError{"De encoder van de opname faalde: " + errorText(result)});
    }
    return {};
}

Expected<void, RecordingError> MovieWriter::finish() {
    if (m_finished || !m_headerWritten)
        return {};
    m_finished = true;
    std::optional<RecordingError> error;
    if (!m_failed)
        if (auto sent = send(nullptr); !sent)
            error = sent.error();
    const int result = av_write_trailer(m_format.get());
    if (!error && result < 0)
        error = writeFailure(result);
    avio_flush(m_io.get());
    if (!error && m_io->error < 0)
        error = writeFailure(m_io->error);
    const std::error_code closed = m_file.close();
    if (!error && closed)
        error = writeFailure(AVERROR(closed.value()));
    if (error)
        return unexpected(std::move(*error));
    return {};
}

} // namespace velmarin::video
