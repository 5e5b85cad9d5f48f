// wall in the leaking chemical before it reaches an edge.
#include "game/game_loop.h"

int main() {
  game_startup();
  while (game_frame()) {
  }
  game_end();
  return 0;
}
