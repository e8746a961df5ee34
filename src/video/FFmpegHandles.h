#pragma once

// Owning pointers for the FFmpeg objects the video code allocates, each freed
// with its own libav function. Acquire straight into one of these:
//     AVFramePtr frame(av_frame_alloc());

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>

#include <libswscale/swscale.h>
}

#include <memory>

namespace velmarin::video {

struct FFmpegDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
    // An output context: its file is closed too, when the muxer opened one.
    void operator()(AVFormatContext* context) const {
        if (context->oformat && context->pb && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

using AVFramePtr = std::unique_ptr<AVFrame, FFmpegDeleter>;
using AVPacketPtr = std::unique_ptr<AVPacket, FFmpegDeleter>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, FFmpegDeleter>;
using AVDictionaryPtr = std::unique_ptr<AVDictionary, FFmpegDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, FFmpegDeleter>;
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, FFmpegDeleter>;

} // namespace velmarin::video
