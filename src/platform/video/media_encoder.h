// Writing a video file with sound: WebM (VP9 and Opus), or MP4 (H.264 and
// AAC) when the name ends in .mp4. The file is written under a temporary name
// beside its own and takes its name only when it is complete, so a failure
// (a full disk, a stop) never leaves half a video behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct EncoderSettings {
  std::string path;
  int width = 640, height = 480;  // of the pictures given
  int scale = 1;                  // 2 doubles every pixel
  int fps = 25;
  int sample_rate = 48000;        // of the sound given
  int threads = 1;
  // 0: constant quality, whatever it costs; else the picture's average
  // kbit/s (a file to serve on the web) with the quality as a ceiling.
  int video_kbps = 0;
  int sound_kbps = 0;  // 0: the codec's usual rate for the format
};

class MediaEncoder {
 public:
  // Drops the temporary file unless Finish succeeded.
  virtual ~MediaEncoder() = default;
  // The next picture: rows of 32-bit words 0x00RRGGBB, `stride` bytes apart.
  virtual bool AddPicture(const uint8_t* pixels, int stride) = 0;
  // The next sound: interleaved stereo float, `frames` frames.
  virtual bool AddSound(const float* samples, int frames) = 0;
  // Ends the streams and puts the file in place under its name.
  virtual bool Finish() = 0;
  // Why the last call failed.
  virtual const std::string& Error() const = 0;
  // What is written, for a summary line (e.g. "VP9 640x480 + Opus, WebM").
  virtual std::string Describe() const = 0;
};

// Null with a reason when the file cannot be made (unwritable folder, codec
// missing).
std::unique_ptr<MediaEncoder> OpenMediaEncoder(const EncoderSettings& s, std::string* error);

// Whether the name asks for MP4.
bool WantsMp4(const std::string& path);
