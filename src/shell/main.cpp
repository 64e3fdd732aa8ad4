// K.V.: the window program.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/audio.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/window.h"
#include "shell/form.h"
#include "shell/frame.h"
#include "shell/settings.h"
#include "state/game.h"
#include "shell/replay_view.h"
#include "replay/recorder.h"
#include "ranking/exchange.h"
#include "ranking/panels.h"

namespace {

void Usage(std::FILE* to) {
  std::fputs("usage: kv [--stats] [--help]\n"
             "Plays K.V. in a 640 x 480 window.\n\n"
             "  --stats   on exit, print how many frames ran and how fast play ran\n"
             "  --help    this text\n",
             to);
}

}  // namespace

int main(int argc, char** argv) {
  bool stats = false;
  const option longs[] = {{"stats", no_argument, nullptr, 's'}, {"help", no_argument, nullptr, 'h'}, {}};
  for (int c; (c = getopt_long(argc, argv, "h", longs, nullptr)) != -1;) {
    if (c == 's') stats = true;
    else if (c == 'h') return Usage(stdout), 0;
    else return Usage(stderr), 2;
  }
  if (optind < argc) {
    std::fprintf(stderr, "kv: unexpected argument %s (see --help)\n", argv[optind]);
    return 2;
  }
  const GameFolder folder = FindGameFolder(ExecutableDir());
  const std::string& dir = folder.dir;

  std::string error;
  std::unique_ptr<Window> win = OpenGameWindow("K.V. ver3.2", 640, 480, &error);
  if (!win) {
    ShowFatalError("K.V.", "cannot open a window: " + error);
    return 1;
  }
  win->SetIcon(dir + "/cg/icon.bmp");
  auto fonts = std::make_shared<FontSet>(dir + "/dat/ipagp.ttf");
  if (!fonts->Ok()) std::fprintf(stderr, "kv: font %s/dat/ipagp.ttf not found; texts are not drawn\n", dir.c_str());
  std::unique_ptr<Audio> audio = MakeSdlAudio();
  std::unique_ptr<Dialogs> dialogs = MakeSdlDialogs(win.get(), fonts);
  std::unique_ptr<Clock> clock = MakeSystemClock();

  Platform pf;
  pf.audio = audio.get();
  pf.dialogs = dialogs.get();
  pf.clock = clock.get();
  pf.fonts = fonts;
  pf.game_dir = dir;
  // Installed, the player's files live in the XDG data folder.
  pf.data_dir = ChooseDataDir(dir, folder.installed);
  std::unique_ptr<Game> game = MakeGame(pf, clock->Seed());
  Game& g = *game;
  if (!FormCreate(g, &error)) {
    ShowFatalError("K.V.", error);
    return 1;
  }
  LoadSettings(g);
  // Every run is kept: the last one and each mode's hi-score run (replays/).
  EnableRecording(g);

  Canvas screen(640, 480, fonts);
  // A question shows over the game as it is when it is asked.
  dialogs->SetBackdrop([&]() -> const Canvas& {
    ComposeWindow(g, screen);
    return screen;
  });
  bool text_on = false;
  long frames = 0, play_frames = 0;
  double play_start = 0, play_end = 0;
  bool focused = win->Focused();
  while (!g.run.quit) {
    InputEvent e;
    bool repaint = false;
    while (!g.run.quit && win->Poll(e)) {
      if (e.type == InputEvent::kFocusGained) focused = true;
      else if (e.type == InputEvent::kFocusLost) focused = false;
      else if (e.type == InputEvent::kExposed) repaint = true;
      if (!ReplayViewInput(g, e)) WindowInput(g, e);
      AfterInput(g);
      ServeReplayRequest(g);
      repaint = true;
    }
    if (g.run.quit) break;
    win->SetPointer(WantsCrosshair(g) ? Window::Pointer::kCrosshair : Window::Pointer::kArrow);
    bool want_text = PanelsWantText(g);
    if (want_text != text_on) {
      // The IME's candidate window goes next to the panel being typed in.
      if (want_text && g.panels.hi_score_box_visible) win->StartTextInput(0, g.panels.hi_score_box_y, 641, 119);
      else if (want_text) win->StartTextInput(0, g.panels.name_box_y, 641, 119);
      else win->StopTextInput();
      text_on = want_text;
    }
    // A ranking exchange runs on its worker thread beside the frames; its
    // outcome (or its time-out) is served here, on the frame thread.
    if (g.ranking.busy && PollRankExchange(g)) {
      AfterInput(g);
      ServeReplayRequest(g);  // a fetched replay to watch
      repaint = true;
    }
    if (focused && ReplayViewActive(g)) {
      // Watching a kept run: the player's game waits.
      if (ReplayViewTick(g)) repaint = true;
    } else if (focused && !g.panels.help_visible) {
      // The frame timer ticks only while the window is the active one, and
      // not while the key help shows.
      bool playing = g.run.in_play != 0 && g.run.paused == 0;
      if (DXTimer1Timer(g)) {
        AfterInput(g);
        repaint = true;
        ++frames;
        if (playing) {
          if (play_frames == 0) play_start = clock->NowDays();
          ++play_frames;
          play_end = clock->NowDays();
        }
      }
    } else if (!repaint && win->Wait(e, 50)) {
      if (e.type == InputEvent::kFocusGained) focused = true;
      else if (e.type == InputEvent::kFocusLost) focused = false;
      if (!ReplayViewInput(g, e)) WindowInput(g, e);
      AfterInput(g);
      repaint = true;
    }
    if (repaint) {
      if (ReplayViewActive(g)) ComposeReplayView(g, screen);
      else ComposeWindow(g, screen);
      win->Present(screen);
    }
  }
  if (stats) {
    double secs = (play_end - play_start) * 86400.0;
    std::printf("kv-stats: frames=%ld play_frames=%ld play_seconds=%.2f play_fps=%.2f\n", frames,
                play_frames, secs, secs > 0 ? (play_frames - 1) / secs : 0.0);
    std::fflush(stdout);
  }
  // Closed during an exchange: the save is written; the worker is left to
  // end on its own and the process does not wait for it.
  const bool worker_left = RankExchangeRunning(g);
  AbandonRankExchange(g);
  FormDestroy(g);
  if (worker_left) {
    game.reset();
    audio.reset();
    dialogs.reset();
    win.reset();
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}
