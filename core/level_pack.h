// Level packs: a readable text form of everything the level stream holds (the intro, the levels,
// the story between them, the final block). A pack is read and checked as a whole, compiled into
// a stream of the built-in byte layout, and the built-in stream can be written back out as one.
// docs/level-format.md describes the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/level_stream.h"

// Bounds a pack must keep; each is explained in docs/level-format.md.
constexpr int32_t PACK_SIZE_MIN = 4;           // cells across or down
constexpr int32_t PACK_SIZE_MAX = 80;          // 6 pixels a cell on the 480-pixel board
constexpr int32_t PACK_BARRIERS_MAX = 9999;    // four digits in the gauge's corner
constexpr int32_t PACK_RATE_MIN = 1;           // a chemical that never grows never spreads
constexpr int32_t PACK_RATE_MAX = 65535;       // a full cell in one frame; more adds nothing
constexpr int32_t PACK_THRESHOLD_MAX = 65534;  // at 65535 no cell could ever pass it on
constexpr int32_t PACK_LEVELS_MAX = 99;        // levels in one pack
constexpr int32_t PACK_TEXT_WIDTH_MAX = 640;   // pixels across the screen a story line may use
constexpr int32_t PACK_PROBLEMS_MAX = 20;      // problems reported before the reader gives up
constexpr size_t PACK_FILE_MAX = 4 << 20;      // bytes; the largest real pack is far smaller
// Why a file over PACK_FILE_MAX is refused, in every reader's words.
constexpr const char* PACK_TOO_LARGE = "too large for a level pack (over 4 MiB)";
constexpr int32_t PACK_DEFAULT_RATE = 16;  // what every built-in level uses
constexpr int32_t PACK_DEFAULT_THRESHOLD = 1024;

// One line of a story block, as the stream holds it.
struct PackLine {
  std::string text;  // cue characters first, then what is shown; never empty
  uint32_t colour;   // 0x00BBGGRR, as the stream stores it
  bool operator==(const PackLine&) const = default;
};

// One level record and the story block that follows it.
struct PackLevel {
  int32_t width = 0;                           // cells across
  int32_t height = 0;                          // cells down
  int32_t barriers = 0;                        // barriers in hand at the start
  int32_t rate = PACK_DEFAULT_RATE;            // concentration gained per frame
  int32_t threshold = PACK_DEFAULT_THRESHOLD;  // a neighbour must hold more to pass it on
  std::vector<std::string> rows;               // height rows of width map letters
  std::vector<PackLine> story_after;           // the block after this level; empty = none
  bool operator==(const PackLevel&) const = default;
};

// A whole pack: what the game plays from the intro to the final block.
struct LevelPack {
  std::vector<PackLine> intro;        // ends by starting the music
  std::vector<PackLevel> levels;      // played in order
  std::vector<PackLine> final_block;  // after the last level; ends the game
  bool operator==(const LevelPack&) const = default;
};

// One problem of a pack's text, 1-based line and column.
struct PackProblem {
  int32_t line;
  int32_t column;
  std::string message;
};

// Reads a pack's text into pack. Returns true when it is usable; otherwise problems lists what is
// wrong (at most PACK_PROBLEMS_MAX of them, in the order of the text) and pack is unspecified.
// for_editing also reads a level that has no leak yet, which cannot be played but is work in
// progress the level editor saved and must open again.
bool level_pack_parse(std::string_view text, LevelPack& pack, std::vector<PackProblem>& problems,
                      bool for_editing = false);
// The text of pack, which level_pack_parse reads back to the same pack.
std::string level_pack_format(const LevelPack& pack);
// The stream and entry tables of a usable pack, in the built-in layout.
LevelStream level_pack_compile(const LevelPack& pack);
// The pack a stream in the built-in layout holds (the reverse of level_pack_compile).
LevelPack level_pack_from_stream(const LevelStream& stream);
// Width in pixels of a story line as the screen shows it (cues taken off, "%S" as the widest
// score), by the widest of the game's faces at its size.
int32_t level_pack_text_width(std::string_view text);

// Why level (asked for by option, as "--level 12") cannot be played when the levels in use (a
// pack's when from_pack, else the game's own) number count; empty when it can.
std::string level_pack_level_problem(const std::string& option, int64_t level, int32_t count,
                                     bool from_pack);
// The problems as "NAME:LINE:COLUMN: message" lines (at most PACK_PROBLEMS_MAX, then a line
// saying more were not shown), NAME being the file's name or what stands for it.
std::string level_pack_problems_text(const std::string& name,
                                     const std::vector<PackProblem>& problems);
