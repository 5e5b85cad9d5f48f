#include "desktop/options.h"

#include <getopt.h>

#include <cstring>
#include <string_view>

#include "core/level_pack.h"
#include "core/parse.h"
#include "core/replay_codec.h"

GameOptions game_options;

#ifndef Q47_VERSION
#define Q47_VERSION "0.0.0"
#endif

namespace {

// Long options without a short form get codes above the character range.
enum : int {
  OPT_VERSION = 256,
  OPT_SCALE,
  OPT_LEVEL,
  OPT_MUTE,
  OPT_RECORD,
  OPT_PLAY,
  OPT_VERIFY,
  OPT_DRAW,
  OPT_LEVELS,
  OPT_EXPORT_LEVELS,
  OPT_CHECK,
  OPT_JSON,
  OPT_WRITE_REPLAYS,
  OPT_PICTURE,
  OPT_EDIT,
  OPT_FRAME,
  OPT_PALETTE,
  OPT_SUBMIT,
  OPT_HUB,
  OPT_HUB_KEY_EXPORT,
  OPT_HUB_KEY_IMPORT,
  OPT_EXACT,
  OPT_TIME_LIMIT,
};

const struct option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"fullscreen", no_argument, nullptr, 'f'},
    {"window", no_argument, nullptr, 'w'},
    {"scale", required_argument, nullptr, OPT_SCALE},
    {"level", required_argument, nullptr, OPT_LEVEL},
    {"mute", no_argument, nullptr, OPT_MUTE},
    {"record", required_argument, nullptr, OPT_RECORD},
    {"play", required_argument, nullptr, OPT_PLAY},
    {"verify", required_argument, nullptr, OPT_VERIFY},
    {"draw", no_argument, nullptr, OPT_DRAW},
    {"levels", required_argument, nullptr, OPT_LEVELS},
    {"export-levels", required_argument, nullptr, OPT_EXPORT_LEVELS},
    {"check", no_argument, nullptr, OPT_CHECK},
    {"json", no_argument, nullptr, OPT_JSON},
    {"write-replays", required_argument, nullptr, OPT_WRITE_REPLAYS},
    {"picture", required_argument, nullptr, OPT_PICTURE},
    {"edit", required_argument, nullptr, OPT_EDIT},
    {"frame", required_argument, nullptr, OPT_FRAME},
    {"palette", required_argument, nullptr, OPT_PALETTE},
    {"submit", no_argument, nullptr, OPT_SUBMIT},
    {"hub", required_argument, nullptr, OPT_HUB},
    {"hub-key-export", no_argument, nullptr, OPT_HUB_KEY_EXPORT},
    {"hub-key-import", required_argument, nullptr, OPT_HUB_KEY_IMPORT},
    {"exact", no_argument, nullptr, OPT_EXACT},
    {"time-limit", required_argument, nullptr, OPT_TIME_LIMIT},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from low to high, nothing else; false otherwise.
bool parse_int_in(const char* text, int32_t low, int32_t high, int32_t& value) {
  int64_t parsed = 0;
  if (parse_int(text, low, high, parsed) != ParseInt::OK) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

// Takes optarg as the FILE of option name: misuse when it is empty (a script's unset variable)
// or the option was given before.
bool take_path(std::string& into, const char* name, std::string& err) {
  if (!into.empty()) {
    err = std::string(GAME_PROGRAM_NAME) + ": option '--" + name + "' given twice\nTry '" +
          GAME_PROGRAM_NAME + " --help'.\n";
    return false;
  }
  if (*optarg == '\0') {
    err = std::string(GAME_PROGRAM_NAME) + ": option '--" + name +
          "' needs a file name, not an empty one\nTry '" + GAME_PROGRAM_NAME + " --help'.\n";
    return false;
  }
  into = optarg;
  return true;
}

std::string misuse(const std::string& problem) {
  return report_line(problem) + "Try '" + GAME_PROGRAM_NAME + " --help'.\n";
}

// The long name of an option's code ("fullscreen" for 'f').
const char* long_name(int code) {
  for (const struct option* o = LONG_OPTIONS; o->name; ++o) {
    if (o->val == code) return o->name;
  }
  return "?";
}

// An option given twice is misuse even when both agree: a script that says --scale 2 and later
// --scale 1 has a mistake in it, and taking either silently would hide it. (-f and -w are two
// options: the last of them wins, as GNU programs let an alias be overridden.) seen marks the
// codes given so far. False with the problem in err.
constexpr int OPTION_SLOTS = OPT_TIME_LIMIT + 1;
bool first_time(bool (&seen)[OPTION_SLOTS], int code, std::string& err) {
  if (!seen[code]) {
    seen[code] = true;
    return true;
  }
  err = misuse("option '--" + std::string(long_name(code)) + "' given twice");
  return false;
}

// Why an unknown long option was refused: a prefix of several options is ambiguous, and saying
// which ones tells the user what to type (glibc's getopt says nothing when opterr is off).
std::string unknown_long(const std::string& word) {
  const std::string given = word.substr(2, word.find('=') - 2);
  std::string possible;
  for (const struct option* o = LONG_OPTIONS; o->name; ++o) {
    if (!given.empty() && std::string_view(o->name).substr(0, given.size()) == given) {
      possible += " '--" + std::string(o->name) + "'";
    }
  }
  if (possible.find(' ', 1) != std::string::npos) {
    return "option '--" + given + "' is ambiguous; possibilities:" + possible;
  }
  return "unrecognized option '" + word.substr(0, word.find('=')) + "'";
}

}  // namespace

std::string options_usage() {
  return "Usage: q47 [OPTION]...\n"
         "Wall in the leaking chemical before it reaches an edge.\n"
         "\n"
         "  -f, --fullscreen       start in full screen (Ctrl+F switches as always)\n"
         "  -w, --window           start in a window (the default)\n"
         "      --scale N|auto     window size: N (1 to 8) times 640 x 480, or the largest\n"
         "                         whole scale that fits the desktop comfortably (default: auto)\n"
         "      --level N          skip the intro and practise level N, score 0\n"
         "      --mute             open no audio device\n"
         "      --palette plain|marked  marked: a cue besides colour in every kind of\n"
         "                         cell (marks in the discs, dots in the chemical);\n"
         "                         plain: the game's own picture (the default)\n"
         "      --levels FILE      play the level pack FILE instead of the built-in levels\n"
         "                         (or a hub's link to one: http://HOST:PORT/packs/ID)\n"
         "      --record FILE      also write the run's input to FILE as a replay\n"
         "      --play FILE        watch the replay FILE (Space: 4x speed, Escape: quit)\n"
         "      --verify FILE      run the replay FILE headless and compare its checksum\n"
         "      --draw             with --verify, draw every frame as in play\n"
         "      --picture FILE     with --verify, write the picture of a frame as PNG\n"
         "      --frame N          with --picture, frame N of the run (default: the last)\n"
         "      --edit FILE        the level editor on the pack FILE (made when it is new)\n"
         "      --export-levels FILE  write the levels in use and their story as a pack to\n"
         "                         FILE (- for standard output)\n"
         "      --check [FILE]     tell for every level of the pack FILE (default: the\n"
         "                         built-in levels) whether and how it can be won\n"
         "      --json             with --check, print JSON, with each winning plan\n"
         "      --write-replays DIR  with --check, write each winning plan as a replay in DIR\n"
         "                         (with --exact, the best run found)\n"
         "      --exact            with --check, search each level's best possible score and\n"
         "                         say whether it is proven\n"
         "      --time-limit SECONDS  with --exact, processor seconds of search per level\n"
         "                         (default: no limit); then the best found and the bound\n"
         "      --submit [FILE]... send each replay FILE (default: the kept runs not sent\n"
         "                         yet) to a hub, which verifies it; with --levels, runs\n"
         "                         of that pack\n"
         "      --hub URL          the hub --submit and the editor's Ctrl+U use (default:\n"
         "                         $Q47_HUB, else http://127.0.0.1:8048)\n"
         "      --hub-key-export   print the kept hub keys, to take to another machine\n"
         "      --hub-key-import FILE  keep the hub keys of FILE (from --hub-key-export)\n"
         "  -h, --help             display this help and exit\n"
         "      --version          output version information and exit\n"
         "\n"
         "In play: left button places a barrier, right button picks a wall up, Enter\n"
         "continues, R restarts the level, Tab plainer picture, M mute, Ctrl+F full screen,\n"
         "Escape quits.\n"
         "\n"
         "Exit status: 0 when done as asked, 1 for a negative answer (a replay that\n"
         "differs, a level with no winning plan found, a run the hub refused) or a\n"
         "failed start, 2 for misuse, a hub that cannot be reached,\n"
         "an unusable file or an output that could not be written.\n";
}

std::string options_version() {
  return std::string(GAME_PROGRAM_NAME) + " " + Q47_VERSION +
         "\nCopyright (C) 2026 the Q-47 developers.\n"
         "License MIT: code, sounds and music alike.\n";
}

OptionsAction options_parse(int argc, char** argv, std::string& out, std::string& err) {
  game_options = GameOptions{};
  // getopt keeps its position between calls; start afresh so tests can parse many times.
  optind = 0;
  opterr = 0;
  int32_t display_asked = 0;  // an option about the window or the sound was given
  bool seen[OPTION_SLOTS] = {};
  for (;;) {
    int index = 0;
    const int code = getopt_long(argc, argv, ":hfw", LONG_OPTIONS, &index);
    if (code == -1) break;
    if (code != ':' && code != '?' && code != 'h' && code != OPT_VERSION &&
        !first_time(seen, code, err)) {
      return OptionsAction::ERROR;
    }
    switch (code) {
      case 'h':
        out = options_usage();
        return OptionsAction::EXIT;
      case OPT_VERSION:
        out = options_version();
        return OptionsAction::EXIT;
      case 'f':
        game_options.fullscreen = 1;
        display_asked = 1;
        break;
      case 'w':
        game_options.fullscreen = 0;
        display_asked = 1;
        break;
      case OPT_SCALE:
        display_asked = 1;
        if (std::strcmp(optarg, "auto") == 0) {
          game_options.scale = OPTIONS_SCALE_AUTO;
        } else if (!parse_int_in(optarg, 1, OPTIONS_SCALE_MAX, game_options.scale)) {
          err = misuse("invalid scale '" + std::string(optarg) +
                       "' (a whole number from 1 to 8, or auto)");
          return OptionsAction::ERROR;
        }
        break;
      case OPT_LEVEL:
        // How many levels there are is known once the pack is read; a pack holds at most 99.
        if (!parse_int_in(optarg, 1, PACK_LEVELS_MAX, game_options.start_level)) {
          err = misuse("invalid level '" + std::string(optarg) + "' (a whole number from 1 to " +
                       std::to_string(PACK_LEVELS_MAX) + ")");
          return OptionsAction::ERROR;
        }
        break;
      case OPT_MUTE:
        game_options.mute = 1;
        display_asked = 1;
        break;
      case OPT_RECORD:
        if (!take_path(game_options.record_path, "record", err)) return OptionsAction::ERROR;
        break;
      case OPT_PLAY:
        if (!take_path(game_options.play_path, "play", err)) return OptionsAction::ERROR;
        break;
      case OPT_VERIFY:
        if (!take_path(game_options.verify_path, "verify", err)) return OptionsAction::ERROR;
        break;
      case OPT_DRAW:
        game_options.draw = 1;
        break;
      case OPT_LEVELS:
        if (!take_path(game_options.levels_path, "levels", err)) return OptionsAction::ERROR;
        break;
      case OPT_EXPORT_LEVELS:
        if (!take_path(game_options.export_levels_path, "export-levels", err))
          return OptionsAction::ERROR;
        break;
      case OPT_CHECK:
        game_options.check = 1;
        break;
      case OPT_JSON:
        game_options.json = 1;
        break;
      case OPT_EXACT:
        game_options.exact = 1;
        break;
      case OPT_TIME_LIMIT: {
        int64_t seconds = 0;
        if (parse_int(optarg, 1, 86400 * 365, seconds) != ParseInt::OK) {
          err = misuse("invalid time limit '" + std::string(optarg) + "' (whole seconds, from 1)");
          return OptionsAction::ERROR;
        }
        game_options.time_limit = seconds;
        break;
      }
      case OPT_EDIT:
        if (!take_path(game_options.edit_path, "edit", err)) return OptionsAction::ERROR;
        break;
      case OPT_PICTURE:
        if (!take_path(game_options.picture_path, "picture", err)) return OptionsAction::ERROR;
        break;
      case OPT_FRAME: {
        int64_t frame = 0;
        if (parse_int(optarg, 1, REPLAY_MAX_FRAMES, frame) != ParseInt::OK) {
          err = misuse("invalid frame '" + std::string(optarg) + "' (a whole number from 1)");
          return OptionsAction::ERROR;
        }
        game_options.picture_frame = frame;
        break;
      }
      case OPT_PALETTE:
        if (std::strcmp(optarg, "plain") == 0) {
          game_options.palette_marked = 0;
        } else if (std::strcmp(optarg, "marked") == 0) {
          game_options.palette_marked = 1;
        } else {
          err = misuse("invalid palette '" + std::string(optarg) + "' (plain or marked)");
          return OptionsAction::ERROR;
        }
        game_options.palette_given = 1;
        break;
      case OPT_SUBMIT:
        game_options.submit = 1;
        break;
      case OPT_HUB:
        if (*optarg == '\0') {
          err = misuse("option '--hub' needs a URL, not an empty one");
          return OptionsAction::ERROR;
        }
        game_options.hub_url = optarg;
        break;
      case OPT_HUB_KEY_EXPORT:
        game_options.hub_key_export = 1;
        break;
      case OPT_HUB_KEY_IMPORT:
        if (!take_path(game_options.hub_key_import_path, "hub-key-import", err))
          return OptionsAction::ERROR;
        break;
      case OPT_WRITE_REPLAYS:
        if (!take_path(game_options.write_replays_dir, "write-replays", err))
          return OptionsAction::ERROR;
        break;
      case ':':
        err = misuse("option '" + std::string(argv[optind - 1]) + "' requires an argument");
        return OptionsAction::ERROR;
      default: {
        // getopt names an unknown short option in optopt and an unknown long one only by its
        // position; a long option given a value it does not take also sets optopt.
        const std::string word = argv[optind - 1];
        if (word.rfind("--", 0) == 0 && optopt) {
          err = misuse("option '" + word.substr(0, word.find('=')) + "' doesn't allow an argument");
        } else if (word.rfind("--", 0) == 0) {
          err = misuse(unknown_long(word));
        } else {
          const std::string what = optopt ? std::string("-") + static_cast<char>(optopt) : word;
          err = misuse("unrecognized option '" + what + "'");
        }
        return OptionsAction::ERROR;
      }
    }
  }
  // --check takes an optional pack as its one operand, --submit its replays; nothing else takes
  // operands.
  if (game_options.check && optind < argc) {
    if (*argv[optind] == '\0') {
      err = misuse("--check needs a pack's file name, not an empty one");
      return OptionsAction::ERROR;
    }
    game_options.check_path = argv[optind++];
  }
  // --submit takes any number of replays.
  for (; game_options.submit && optind < argc; ++optind) {
    if (*argv[optind] == '\0') {
      err = misuse("--submit needs replays' file names, not an empty one");
      return OptionsAction::ERROR;
    }
    game_options.submit_paths.emplace_back(argv[optind]);
  }
  if (optind < argc) {
    err = misuse("unexpected argument '" + std::string(argv[optind]) + "'");
    return OptionsAction::ERROR;
  }
  // Combinations that cannot mean anything.
  const int32_t modes = (!game_options.play_path.empty()) + (!game_options.verify_path.empty()) +
                        (!game_options.edit_path.empty()) + game_options.check +
                        (!game_options.export_levels_path.empty()) + game_options.submit +
                        game_options.hub_key_export + (!game_options.hub_key_import_path.empty());
  if (modes > 1) {
    err = misuse(
        "--play, --verify, --check, --edit, --export-levels, --submit, --hub-key-export and "
        "--hub-key-import exclude each other");
    return OptionsAction::ERROR;
  }
  if (!game_options.record_path.empty() && modes > 0) {
    err = misuse("--record only goes with a game that is played");
    return OptionsAction::ERROR;
  }
  if ((game_options.draw || !game_options.picture_path.empty()) &&
      game_options.verify_path.empty()) {
    err = misuse("--draw and --picture only go with --verify");
    return OptionsAction::ERROR;
  }
  if (game_options.picture_frame && game_options.picture_path.empty()) {
    err = misuse("--frame only goes with --picture");
    return OptionsAction::ERROR;
  }
  if ((game_options.json || !game_options.write_replays_dir.empty() || game_options.exact) &&
      !game_options.check) {
    err = misuse("--json, --write-replays and --exact only go with --check");
    return OptionsAction::ERROR;
  }
  if (game_options.time_limit && !game_options.exact) {
    err = misuse("--time-limit only goes with --exact");
    return OptionsAction::ERROR;
  }
  // The editor edits the pack it is given; a second pack would be ignored or overwritten.
  if (!game_options.levels_path.empty() && !game_options.edit_path.empty()) {
    err = misuse("--levels and --edit exclude each other (--edit FILE edits the pack FILE)");
    return OptionsAction::ERROR;
  }
  if (game_options.start_level && (!game_options.play_path.empty() || modes > 0)) {
    err = misuse("--level only goes with a game that is played");
    return OptionsAction::ERROR;
  }
  // Headless work has no window to place and no sound to silence.
  if (display_asked && modes > 0 && game_options.play_path.empty() &&
      game_options.edit_path.empty()) {
    err = misuse(
        "--fullscreen, --window, --scale and --mute only go with a window (a game, --play or "
        "--edit)");
    return OptionsAction::ERROR;
  }
  if (!game_options.hub_url.empty() && !game_options.submit &&
      game_options.hub_key_import_path.empty() && game_options.edit_path.empty()) {
    err = misuse("--hub only goes with --submit, --hub-key-import or --edit");
    return OptionsAction::ERROR;
  }
  if (!game_options.levels_path.empty() &&
      (game_options.hub_key_export || !game_options.hub_key_import_path.empty())) {
    err = misuse("--levels does not go with --hub-key-export or --hub-key-import");
    return OptionsAction::ERROR;
  }
  // Only a run that draws has a picture to mark.
  if (seen[OPT_PALETTE] &&
      (game_options.check || !game_options.export_levels_path.empty() || game_options.submit ||
       game_options.hub_key_export || !game_options.hub_key_import_path.empty())) {
    err = misuse("--palette only goes with a picture (a game, --play, --edit or --verify)");
    return OptionsAction::ERROR;
  }
  if (game_options.check && !game_options.check_path.empty() && !game_options.levels_path.empty()) {
    err = misuse("--check takes its pack once: as --check FILE or with --levels FILE");
    return OptionsAction::ERROR;
  }
  return OptionsAction::RUN;
}
