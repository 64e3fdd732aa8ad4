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
#include "ranking/exchange.h"
#include "replay/recorder.h"
#include "shell/form.h"
#include "shell/settings.h"
#include "shell/window_loop.h"
#include "state/game.h"

namespace {

void Usage(std::FILE* to) {
  std::fputs("usage: kv [--stats] [--help]\n"
             "Plays K.V. in a 640 x 480 window.\n\n"
             "  --stats   on exit, print how many frames ran and pictures were shown, and the\n"
             "            frame rates on the title picture, in the menus and in play\n"
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

  // A question shows over the game as it is when it is asked.
  Canvas backdrop(640, 480, fonts);
  dialogs->SetBackdrop([&]() -> const Canvas& {
    ComposeWindow(g, backdrop);
    return backdrop;
  });
  WindowLoop loop(g, *win, fonts);
  loop.Run();
  if (stats) loop.stats().Print();
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
