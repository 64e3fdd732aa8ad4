#include "platform/video/media_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/video/av_error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

// dir/.name.XXXXXX beside the wanted file; empty with a reason when the folder
// cannot take it.
std::string MakeTemporaryFile(const std::string& path, std::string* error) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) {
    *error = path + " names a folder, not a file";
    return "";
  }
  std::string templ = dir + "/." + base + ".XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  const int fd = mkstemp(buf.data());
  if (fd < 0) {
    *error = "cannot write in " + dir + ": " + std::strerror(errno);
    return "";
  }
  // The finished file gets the usual mode, not mkstemp's private one.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return buf.data();
}

class FfmpegEncoder : public MediaEncoder {
 public:
  ~FfmpegEncoder() override {
    if (oc_ && oc_->pb) avio_closep(&oc_->pb);
    avformat_free_context(oc_);
    avcodec_free_context(&venc_);
    avcodec_free_context(&aenc_);
    av_frame_free(&vframe_);
    av_frame_free(&aframe_);
    av_packet_free(&packet_);
    sws_freeContext(sws_);
    swr_free(&swr_);
    if (fifo_) av_audio_fifo_free(fifo_);
    if (!done_ && !temp_.empty()) unlink(temp_.c_str());
  }

  bool Open(const EncoderSettings& s, std::string* error) {
    s_ = s;
    mp4_ = WantsMp4(s.path);
    if (s.scale < 1 || s.width < 2 || s.height < 2 || s.width % 2 || s.height % 2 || s.fps < 1) {
      *error = "bad picture size or rate";
      return false;
    }
    av_log_set_level(AV_LOG_ERROR);
    temp_ = MakeTemporaryFile(s.path, error);
    if (temp_.empty()) return false;
    if (!OpenAll()) {
      *error = error_;
      return false;
    }
    return true;
  }

  bool AddPicture(const uint8_t* pixels, int stride) override {
    if (!error_.empty()) return false;
    int r = av_frame_make_writable(vframe_);
    if (r < 0) return Fail("video frame: " + AvError(r));
    const uint8_t* src[1] = {pixels};
    const int strides[1] = {stride};
    sws_scale(sws_, src, strides, 0, s_.height, vframe_->data, vframe_->linesize);
    vframe_->pts = pictures_++;
    return Send(venc_, vst_, vframe_);
  }

  bool AddSound(const float* samples, int frames) override {
    if (!error_.empty()) return false;
    void* data[1] = {const_cast<float*>(samples)};
    if (av_audio_fifo_write(fifo_, data, frames) < frames) return Fail("sound: out of memory");
    while (av_audio_fifo_size(fifo_) >= frame_size_)
      if (!SendSound(frame_size_)) return false;
    return true;
  }

  bool Finish() override {
    if (!error_.empty()) return false;
    // The last piece of sound: short when the codec takes that, else padded.
    const int left = av_audio_fifo_size(fifo_);
    if (left > 0) {
      if (!(aenc_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
        std::vector<float> silence(size_t(frame_size_ - left) * 2, 0.0f);
        void* data[1] = {silence.data()};
        av_audio_fifo_write(fifo_, data, frame_size_ - left);
      }
      if (!SendSound(av_audio_fifo_size(fifo_))) return false;
    }
    if (!Send(venc_, vst_, nullptr) || !Send(aenc_, ast_, nullptr)) return false;
    int r = av_write_trailer(oc_);
    if (r < 0) return Fail("cannot finish " + s_.path + ": " + AvError(r));
    avio_flush(oc_->pb);
    if (oc_->pb->error < 0) return Fail("cannot write " + s_.path + ": " + AvError(oc_->pb->error));
    r = avio_closep(&oc_->pb);
    if (r < 0) return Fail("cannot write " + s_.path + ": " + AvError(r));
    if (std::rename(temp_.c_str(), s_.path.c_str()) != 0)
      return Fail("cannot name the video " + s_.path + ": " + std::strerror(errno));
    done_ = true;
    return true;
  }

  const std::string& Error() const override { return error_; }

  std::string Describe() const override {
    return std::string(mp4_ ? "H.264 " : "VP9 ") + std::to_string(venc_->width) + "x" +
           std::to_string(venc_->height) + " " + std::to_string(s_.fps) + " fps + " +
           (mp4_ ? "AAC" : "Opus") + ", " + (mp4_ ? "MP4" : "WebM");
  }

 private:
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  bool OpenAll() {
    int r = avformat_alloc_output_context2(&oc_, nullptr, mp4_ ? "mp4" : "webm", nullptr);
    if (r < 0 || !oc_) return Fail("no " + std::string(mp4_ ? "MP4" : "WebM") + " writer in FFmpeg");
    packet_ = av_packet_alloc();
    if (!packet_) return Fail("out of memory");
    if (!OpenVideo() || !OpenSound()) return false;
    // "file:" keeps a name with a colon from being read as a protocol.
    const std::string url = "file:" + temp_;
    av_free(oc_->url);
    oc_->url = av_strdup(url.c_str());  // the MP4 writer opens it again to put the index first
    r = avio_open(&oc_->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Fail("cannot write " + temp_ + ": " + AvError(r));
    AVDictionary* opts = nullptr;
    // An MP4 plays in a browser before it is all loaded with its index first.
    if (mp4_) av_dict_set(&opts, "movflags", "+faststart", 0);
    r = avformat_write_header(oc_, &opts);
    av_dict_free(&opts);
    if (r < 0) return Fail("cannot write " + s_.path + ": " + AvError(r));
    return true;
  }

  bool OpenVideo() {
    const char* name = mp4_ ? "libx264" : "libvpx-vp9";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) return Fail(std::string("FFmpeg has no ") + name + " encoder");
    vst_ = avformat_new_stream(oc_, nullptr);
    venc_ = avcodec_alloc_context3(codec);
    vframe_ = av_frame_alloc();
    if (!vst_ || !venc_ || !vframe_) return Fail("out of memory");
    venc_->width = s_.width * s_.scale;
    venc_->height = s_.height * s_.scale;
    venc_->time_base = AVRational{1, s_.fps};
    venc_->framerate = AVRational{s_.fps, 1};
    venc_->pix_fmt = AV_PIX_FMT_YUV420P;
    venc_->gop_size = s_.fps * 10;  // a key picture every 10 s, to seek by
    venc_->thread_count = s_.threads;
    // The colours as converted below (BT.601, limited range), said outright
    // so a player does not guess BT.709 for the larger size.
    venc_->colorspace = AVCOL_SPC_SMPTE170M;
    venc_->color_primaries = AVCOL_PRI_BT709;
    venc_->color_trc = AVCOL_TRC_IEC61966_2_1;
    venc_->color_range = AVCOL_RANGE_MPEG;
    if (oc_->oformat->flags & AVFMT_GLOBALHEADER) venc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    if (mp4_) {
      av_dict_set(&opts, "preset", "veryfast", 0);
      av_dict_set(&opts, "crf", "18", 0);
    } else {
      // Real-time settings: one pass, no look-ahead, rows in parallel where
      // threads are given; constant quality, tuned for drawn pictures (thin
      // lines on black: half the size of the default tuning at better quality).
      venc_->bit_rate = 0;
      av_dict_set(&opts, "deadline", "realtime", 0);
      av_dict_set(&opts, "cpu-used", "8", 0);
      av_dict_set(&opts, "row-mt", "1", 0);
      av_dict_set(&opts, "lag-in-frames", "0", 0);
      av_dict_set(&opts, "tune-content", "screen", 0);
      av_dict_set(&opts, "crf", "30", 0);
      // With a bitrate the same quality is a ceiling: busy scenes get what
      // the rate allows, quiet ones no more than they need.
      if (s_.video_kbps > 0) venc_->bit_rate = int64_t(s_.video_kbps) * 1000;
    }
    int r = avcodec_open2(venc_, codec, &opts);
    av_dict_free(&opts);
    if (r < 0) return Fail(std::string("cannot start the ") + name + " encoder: " + AvError(r));
    avcodec_parameters_from_context(vst_->codecpar, venc_);
    vst_->time_base = venc_->time_base;
    vst_->avg_frame_rate = venc_->framerate;
    vframe_->format = venc_->pix_fmt;
    vframe_->width = venc_->width;
    vframe_->height = venc_->height;
    if ((r = av_frame_get_buffer(vframe_, 0)) < 0) return Fail("video frame: " + AvError(r));
    // Doubled pixels stay sharp: each becomes a 2 x 2 block.
    sws_ = sws_getContext(s_.width, s_.height, AV_PIX_FMT_BGR0, venc_->width, venc_->height,
                          AV_PIX_FMT_YUV420P, s_.scale == 1 ? SWS_BILINEAR : SWS_POINT, nullptr,
                          nullptr, nullptr);
    if (!sws_) return Fail("cannot convert the pictures");
    return true;
  }

  bool OpenSound() {
    const AVCodec* codec =
        mp4_ ? avcodec_find_encoder(AV_CODEC_ID_AAC) : avcodec_find_encoder_by_name("libopus");
    if (!codec) return Fail(std::string("FFmpeg has no ") + (mp4_ ? "AAC" : "libopus") + " encoder");
    ast_ = avformat_new_stream(oc_, nullptr);
    aenc_ = avcodec_alloc_context3(codec);
    aframe_ = av_frame_alloc();
    if (!ast_ || !aenc_ || !aframe_) return Fail("out of memory");
    aenc_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
      if (*f == AV_SAMPLE_FMT_FLT || *f == AV_SAMPLE_FMT_FLTP) aenc_->sample_fmt = *f;
    aenc_->sample_rate = s_.sample_rate;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&aenc_->ch_layout, &stereo);
    aenc_->bit_rate = s_.sound_kbps > 0 ? int64_t(s_.sound_kbps) * 1000 : mp4_ ? 160000 : 128000;
    aenc_->time_base = AVRational{1, s_.sample_rate};
    if (oc_->oformat->flags & AVFMT_GLOBALHEADER) aenc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(aenc_, codec, nullptr);
    if (r < 0) return Fail("cannot start the sound encoder: " + AvError(r));
    avcodec_parameters_from_context(ast_->codecpar, aenc_);
    ast_->time_base = aenc_->time_base;
    frame_size_ = aenc_->frame_size > 0 ? aenc_->frame_size : s_.sample_rate / 50;
    aframe_->format = aenc_->sample_fmt;
    av_channel_layout_copy(&aframe_->ch_layout, &aenc_->ch_layout);
    aframe_->sample_rate = aenc_->sample_rate;
    aframe_->nb_samples = frame_size_;
    if ((r = av_frame_get_buffer(aframe_, 0)) < 0) return Fail("sound frame: " + AvError(r));
    r = swr_alloc_set_opts2(&swr_, &aenc_->ch_layout, aenc_->sample_fmt, aenc_->sample_rate, &stereo,
                            AV_SAMPLE_FMT_FLT, s_.sample_rate, 0, nullptr);
    if (r < 0 || swr_init(swr_) < 0) return Fail("cannot convert the sound");
    fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLT, 2, frame_size_ * 4);
    if (!fifo_) return Fail("out of memory");
    return true;
  }

  bool SendSound(int frames) {
    std::vector<float> piece(size_t(frames) * 2);
    void* data[1] = {piece.data()};
    if (av_audio_fifo_read(fifo_, data, frames) < frames) return Fail("sound: lost samples");
    int r = av_frame_make_writable(aframe_);
    if (r < 0) return Fail("sound frame: " + AvError(r));
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(piece.data())};
    r = swr_convert(swr_, aframe_->data, frames, src, frames);
    if (r < 0) return Fail("cannot convert the sound: " + AvError(r));
    aframe_->nb_samples = frames;
    aframe_->pts = samples_;
    samples_ += frames;
    return Send(aenc_, ast_, aframe_);
  }

  // Feeds the encoder one frame (or null to drain it) and writes what comes out.
  bool Send(AVCodecContext* enc, AVStream* st, AVFrame* frame) {
    int r = avcodec_send_frame(enc, frame);
    if (r < 0) return Fail("encoder: " + AvError(r));
    for (;;) {
      r = avcodec_receive_packet(enc, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return Fail("encoder: " + AvError(r));
      av_packet_rescale_ts(packet_, enc->time_base, st->time_base);
      packet_->stream_index = st->index;
      r = av_interleaved_write_frame(oc_, packet_);
      if (r < 0) return Fail("cannot write " + s_.path + ": " + AvError(r));
    }
  }

  EncoderSettings s_;
  bool mp4_ = false;
  bool done_ = false;
  std::string temp_;
  std::string error_;
  AVFormatContext* oc_ = nullptr;
  AVStream* vst_ = nullptr;
  AVStream* ast_ = nullptr;
  AVCodecContext* venc_ = nullptr;
  AVCodecContext* aenc_ = nullptr;
  AVFrame* vframe_ = nullptr;
  AVFrame* aframe_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;
  int frame_size_ = 960;
  int64_t pictures_ = 0;
  int64_t samples_ = 0;
};

}  // namespace

bool WantsMp4(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".mp4";
}

std::unique_ptr<MediaEncoder> OpenMediaEncoder(const EncoderSettings& s, std::string* error) {
  auto e = std::make_unique<FfmpegEncoder>();
  if (!e->Open(s, error)) return nullptr;
  return e;
}
