// FFmpeg's error codes as text, for the messages of the video code.
#pragma once

#include <string>

extern "C" {
#include <libavutil/error.h>
}

inline std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}
