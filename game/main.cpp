// wall in the leaking chemical before it reaches an edge.
#include <cstdio>
#include <string>

#include "game/game_loop.h"
#include "game/options.h"

int main(int argc, char** argv) {
  std::string out;
  std::string err;
  switch (options_parse(argc, argv, out, err)) {
    case OptionsAction::EXIT:
      std::fputs(out.c_str(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case OptionsAction::ERROR:
      std::fputs(err.c_str(), stderr);
      return 2;
    case OptionsAction::RUN:
      break;
  }
  game_startup();
  while (game_frame()) {
  }
  game_end();
  return 0;
}
