// What the desktop program does for each way it is started: play, watch or verify a replay,
// check or export levels. Each returns the exit code. The options are parsed first.
#pragma once

#include <cstdint>
#include <string>

// False, with one line on standard error, when a file the run would write is one of the files
// it reads (a pack overwritten by its own recording), by any name.
bool outputs_spare_inputs();
// Reads the pack at path and makes it the levels the game plays; false (with every problem on
// standard error) when it is unusable.
bool install_pack(const std::string& path);
// A game in the window from the intro or --level, recorded as the last run (and --record).
int play_main();
// --export-levels PATH: the levels in use (the built-in ones, or a --levels pack as the game
// reads it) and their story, written as a pack; "-" is standard output.
int export_levels_main(const std::string& path);
// --check: a report on every level in use, each row printed as it is found; 0 when a winning
// plan was found for every level, 1 when not for one (named on standard error), 2 when the
// report or a replay of --write-replays could not be written.
int check_main();
// --verify PATH: runs the replay headless and prints what it found. 0 = checksum as recorded,
// 1 = it differs (the first difference on standard error), 2 = the file cannot be used.
int replay_verify_main(const std::string& path, int32_t draw);
// --play PATH: shows the run in the window at normal speed. 0 at the end of the recording or
// when the viewer stops it, 2 for a file that cannot be used.
int replay_play_main(const std::string& path);
// --edit PATH: the level editor on the pack at PATH (a new pack when there is no file yet).
// 0 when the player quit it, 2 for a file that cannot be read as a pack.
int edit_main(const std::string& path);
