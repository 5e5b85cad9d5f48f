// The command line: GNU-style options parsed once at program start, before any window opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/report.h"

constexpr int32_t OPTIONS_SCALE_AUTO = 0;  // GameOptions::scale: choose from the desktop's size
constexpr int32_t OPTIONS_SCALE_MAX = 8;

// What the command line asked for. Defaults are the game exactly as it plays without options.
struct GameOptions {
  int32_t fullscreen = 0;              // -f: start in full screen
  int32_t scale = OPTIONS_SCALE_AUTO;  // --scale: 1..8 times 640 x 480, or auto
  int32_t start_level = 0;             // --level: 1..99 skips the intro; 0 = the intro
  int32_t mute = 0;                    // --mute: open no audio device
  int32_t palette_marked = 0;          // --palette marked: a cue besides colour in every cell
  int32_t palette_given = 0;           // --palette was given: it wins over the saved setting
  std::string record_path;             // --record: write the run's input here
  std::string play_path;               // --play: watch a recorded run
  std::string verify_path;         // --verify: run a recording headless and compare its checksum
  int32_t draw = 0;                // --draw: with --verify, draw every frame too
  std::string picture_path;        // --picture: with --verify, write a frame's picture as PNG
  int64_t picture_frame = 0;       // --frame: that frame (1 to the run's frames); 0 = the last
  std::string levels_path;         // --levels: play this level pack instead of the built-in levels
  std::string export_levels_path;  // --export-levels: write the built-in levels as a pack
  int32_t check = 0;              // --check: report on every level of a pack (or the built-in ones)
  std::string check_path;         // the pack --check reads; empty = the built-in levels
  int32_t json = 0;               // --json: --check prints JSON instead of a table
  int32_t exact = 0;              // --exact: --check also searches each level's best score
  int64_t time_limit = 0;         // --time-limit: processor seconds of that search per level;
                                  // 0 = until it ends
  std::string edit_path;          // --edit: the level editor on this pack
  std::string write_replays_dir;  // --write-replays: --check writes each winning plan here
  int32_t submit = 0;             // --submit: send replays to a hub
  std::vector<std::string> submit_paths;  // its replays; none = the kept runs not sent yet
  std::string hub_url;                    // --hub: the hub's URL (else $Q47_HUB, else local)
  int32_t hub_key_export = 0;             // --hub-key-export: print the kept hub keys
  std::string hub_key_import_path;        // --hub-key-import: keep the keys of this file
};

// What main does after parsing.
enum class OptionsAction {
  RUN,    // go on with the options
  EXIT,   // help or version was printed: exit with code 0
  ERROR,  // misuse was reported on standard error: exit with code 2
};

// The options of this run (set once by options_parse, read everywhere after).
extern GameOptions game_options;

// Parses argv into game_options. Help and version go to out; a misuse goes to err as one line
// naming the problem plus "Try 'q47 --help'.".
OptionsAction options_parse(int argc, char** argv, std::string& out, std::string& err);
// The --help text.
std::string options_usage();
// The --version text.
std::string options_version();
