#include "platform/video/sound_file.h"

#include <algorithm>

#include "platform/video/av_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

class FfmpegSoundFile : public SoundFileReader {
 public:
  ~FfmpegSoundFile() override {
    swr_free(&swr_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&dec_);
    avformat_close_input(&fmt_);
  }

  bool Open(const std::string& path, int rate, std::string* error) {
    auto fail = [&](const std::string& why) {
      if (error) *error = path + ": " + why;
      return false;
    };
    // "file:" keeps a name with a colon from being read as a protocol.
    int r = avformat_open_input(&fmt_, ("file:" + path).c_str(), nullptr, nullptr);
    if (r < 0) return fail(AvError(r));
    if ((r = avformat_find_stream_info(fmt_, nullptr)) < 0) return fail(AvError(r));
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec) return fail("no sound in it");
    dec_ = avcodec_alloc_context3(codec);
    if (!dec_) return fail("out of memory");
    avcodec_parameters_to_context(dec_, fmt_->streams[stream_]->codecpar);
    if ((r = avcodec_open2(dec_, codec, nullptr)) < 0) return fail(AvError(r));
    AVChannelLayout in_layout;
    if (dec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || dec_->ch_layout.nb_channels < 1)
      av_channel_layout_default(&in_layout, std::max(1, dec_->ch_layout.nb_channels));
    else
      av_channel_layout_copy(&in_layout, &dec_->ch_layout);
    channels_ = in_layout.nb_channels == 1 ? 1 : 2;
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, channels_);
    r = swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_FLT, rate, &in_layout,
                            dec_->sample_fmt, dec_->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    if (r < 0 || (r = swr_init(swr_)) < 0) return fail("cannot convert its samples: " + AvError(r));
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_) return fail("out of memory");
    return true;
  }

  int Channels() const override { return channels_; }

  int Read(float* out, int frames) override {
    while (int(pending_.size()) < frames * channels_ && !ended_) Refill();
    const int got = std::min(frames, int(pending_.size()) / channels_);
    std::copy_n(pending_.begin(), size_t(got * channels_), out);
    pending_.erase(pending_.begin(), pending_.begin() + got * channels_);
    return got;
  }

 private:
  // Converts one decoded frame (or, with none, what the resampler still holds).
  void Convert(const AVFrame* f) {
    const int in = f ? f->nb_samples : 0;
    const int room = swr_get_out_samples(swr_, in);
    if (room <= 0) return;
    const size_t at = pending_.size();
    pending_.resize(at + size_t(room) * size_t(channels_));
    uint8_t* dst = reinterpret_cast<uint8_t*>(pending_.data() + at);
    const int got = swr_convert(swr_, &dst, room, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr, in);
    pending_.resize(at + size_t(std::max(got, 0)) * size_t(channels_));
  }

  // Decodes until some samples came out or the file ended.
  void Refill() {
    const size_t before = pending_.size();
    while (pending_.size() == before && !ended_) {
      int r = avcodec_receive_frame(dec_, frame_);
      if (r == 0) {
        Convert(frame_);
        av_frame_unref(frame_);
        continue;
      }
      if (r == AVERROR_EOF) {
        Convert(nullptr);
        ended_ = true;
        break;
      }
      if (r != AVERROR(EAGAIN)) {  // a damaged file ends here
        ended_ = true;
        break;
      }
      if (draining_) {
        ended_ = true;
        break;
      }
      r = av_read_frame(fmt_, packet_);
      if (r < 0) {
        draining_ = true;
        avcodec_send_packet(dec_, nullptr);
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(dec_, packet_);
      av_packet_unref(packet_);
    }
  }

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* dec_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  int channels_ = 2;
  bool draining_ = false;
  bool ended_ = false;
  std::vector<float> pending_;
};

}  // namespace

std::unique_ptr<SoundFileReader> OpenSoundFile(const std::string& path, int rate,
                                               std::string* error) {
  av_log_set_level(AV_LOG_ERROR);
  auto f = std::make_unique<FfmpegSoundFile>();
  if (!f->Open(path, rate, error)) return nullptr;
  return f;
}

std::vector<float> ReadWholeSoundFile(const std::string& path, int rate, double max_seconds) {
  std::vector<float> out;
  auto f = OpenSoundFile(path, rate, nullptr);
  if (!f) return out;
  const size_t limit = size_t(max_seconds * rate);
  const int ch = f->Channels();
  std::vector<float> piece(4096 * size_t(ch));
  size_t frames = 0;
  while (frames < limit) {
    const int got = f->Read(piece.data(), int(std::min<size_t>(4096, limit - frames)));
    if (got <= 0) break;
    for (int i = 0; i < got; ++i) {
      const float l = piece[size_t(i * ch)];
      out.push_back(l);
      out.push_back(ch == 1 ? l : piece[size_t(i * ch + 1)]);
    }
    frames += size_t(got);
  }
  return out;
}
