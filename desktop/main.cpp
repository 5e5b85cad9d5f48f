// wall in the leaking chemical before it reaches an edge.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/level_pack.h"
#include "core/report.h"
#include "desktop/commands.h"
#include "desktop/options.h"
#include "desktop/submit.h"
#include "play/session.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // Started from Explorer or the Start menu, q47.exe gets a console of its own, which would stand
  // empty beside the game's window: it is let go. From a console the program keeps it and prints
  // there, as on Linux.
  DWORD console_users[2];
  if (GetConsoleProcessList(console_users, 2) == 1) FreeConsole();
#endif
  std::string out;
  std::string err;
  switch (options_parse(argc, argv, out, err)) {
    case OptionsAction::EXIT:
      if (std::fputs(out.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        report(std::string("standard output: ") + std::strerror(errno));
        return 2;
      }
      return 0;
    case OptionsAction::ERROR:
      std::fputs(err.c_str(), stderr);
      return 2;
    case OptionsAction::RUN:
      break;
  }
  if (!outputs_spare_inputs()) return 2;
  // The pack is read and checked before anything else starts, so a bad one opens no window;
  // replays of a pack's levels are played and verified on the pack too.
  const std::string& pack_path = game_options.check && !game_options.check_path.empty()
                                     ? game_options.check_path
                                     : game_options.levels_path;
  if (!pack_path.empty() && !install_pack(pack_path)) return 2;
  const int32_t levels = level_count(session_stream());
  const std::string level_problem =
      level_pack_level_problem("--level " + std::to_string(game_options.start_level),
                               game_options.start_level, levels, !pack_path.empty());
  if (!level_problem.empty()) {
    report(level_problem);
    return 2;
  }
  if (!game_options.export_levels_path.empty()) {
    return export_levels_main(game_options.export_levels_path);
  }
  if (game_options.check) return check_main();
  if (game_options.submit) return submit_main(game_options.submit_paths);
  if (game_options.hub_key_export) return hub_key_export_main();
  if (!game_options.hub_key_import_path.empty()) {
    return hub_key_import_main(game_options.hub_key_import_path);
  }
  if (!game_options.verify_path.empty()) {
    return replay_verify_main(game_options.verify_path, game_options.draw);
  }
  if (!game_options.play_path.empty()) return replay_play_main(game_options.play_path);
  if (!game_options.edit_path.empty()) return edit_main(game_options.edit_path);
  return play_main();
}
