#include "combat/player.h"

#include "assets/pictures.h"
#include "assets/sound.h"
#include "shell/game.h"

void UpdatePlayer(Game& g) {
  if (g.in_play == 0) return;
}

void EndGame(Game& g) {
  g.in_play = 0;
  g.game_over_banner = 1;
  PlayEffect(g, "gameover.wav");
  PlayMusic(g, "not");
  ShowPicture(g, "gameover.jpg");
  ApplyHiScoreRule(g);
}
