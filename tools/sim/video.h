// kv-sim --video: a replay rendered to a video file with its sound, and
// kv-sim --replay --frames N --png: one picture of a replay.
#pragma once

#include <string>

struct VideoRequest {
  std::string game_dir;
  std::string replay_path;
  std::string out_path;  // .webm (VP9 + Opus) or .mp4 (H.264 + AAC)
  int scale = 1;         // 1: 640 x 480, 2: 1280 x 960
  bool progress = true;  // a bar on the terminal
  bool web = false;      // a small file to serve: a bounded bitrate
};

// Plays the replay, checks it as --replay does and writes the video; prints
// the video's line and the render time. Exit status: 0 written, 1 not (the
// replay does not verify or cannot be read, the file cannot be written).
int RenderReplayVideo(const VideoRequest& r);

// Plays `frames` frames of a replay and writes what the window shows then
// (the video's picture number `frames`, counting from 1).
int SaveReplayPicture(const std::string& game_dir, const std::string& replay_path, int frames,
                      const std::string& png_path);
