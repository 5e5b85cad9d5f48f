// What the desktop program does for each way it is started: play, watch or verify a replay,
// check or export levels. Each returns the exit code. The options are parsed first.
#pragma once

#include <cstdint>
#include <string>

// Reads the pack at path and makes it the levels the game plays; false (with every problem on
// standard error) when it is unusable.
bool install_pack(const std::string& path);
// A game in the window from the intro or --level, recorded as the last run (and --record).
int play_main();
// --export-levels PATH: the built-in levels and story, written as a pack.
int export_levels_main(const std::string& path);
// --check: a report on every level in use; 0 when all can be won, 1 when one cannot, 2 when
// the report or a replay of --write-replays could not be written.
int check_main();
// --verify PATH: runs the replay headless and prints what it found. 0 = checksum as recorded,
// 1 = it differs (the first difference on standard error), 2 = the file cannot be used.
int replay_verify_main(const std::string& path, int32_t draw);
// --play PATH: shows the run in the window at normal speed. 0 at the end of the recording or
// when the viewer stops it, 2 for a file that cannot be used.
int replay_play_main(const std::string& path);
