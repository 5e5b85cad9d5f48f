// The level stream: story blocks and level records, read strictly in order through a cursor.
// Items are zero-terminated strings and little-endian int32 values. The game reads the built-in
// stream unless a level pack compiled into the same layout is played instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Rules;
struct RulesEffects;

constexpr size_t LEVEL_STREAM_SIZE = 10932;  // total length in bytes
extern const unsigned char level_stream[LEVEL_STREAM_SIZE];

// Entry offsets into level_stream.
constexpr size_t LEVEL_ENTRY_INTRO = 0;      // intro block, ends with "*"
constexpr size_t LEVEL_ENTRY_FINAL = 10674;  // final block, after level 10
constexpr int32_t LEVEL_BUILTIN_COUNT = 10;  // levels of the built-in stream

// A whole stream with its entry tables, as a pack compiles to. The intro always starts at 0;
// it holds at least one level, and all its offsets lie inside the bytes.
struct LevelStream {
  std::vector<unsigned char> bytes;  // the stream itself
  std::vector<size_t> records;       // offset of level n's record at [n - 1]
  std::vector<long> blocks;          // offset of the block after level n at [n - 1], or -1;
                                     // the last level's is the final block
};

// The built-in stream and its tables.
const LevelStream& level_stream_builtin();
// Levels in stream.
int32_t level_count(const LevelStream& stream);
// Offset of the record of level n (1..level_count()); any other n gets level 1's record.
size_t level_record_offset(const LevelStream& stream, int32_t level);
// Offset of the message block shown after level n, or -1 when none follows it (7, 8, others).
long level_block_offset(const LevelStream& stream, int32_t finished_level);

// The state at program start, before the intro opens: level 1 about to be played, score 0,
// the first fill stamp 1, the cursor on the intro of stream (null = built-in), telling effects
// (null = nobody).
void rules_start(Rules& rules, const LevelStream* stream, const RulesEffects* effects);
// The stream rules reads: its own, or the built-in one.
const LevelStream& rules_stream(const Rules& rules);

// Reads the string item at rules' cursor in its stream and moves past its zero byte.
std::string level_read_string(Rules& rules);
// Reads the int32 item at the cursor and moves by 4.
int32_t level_read_int(Rules& rules);

// Sets the flags of grid row y from a map row (any case; unknown letters and missing ones are open
// floor, letters beyond grid_width are ignored). Rows outside the grid are ignored.
void level_set_row(Rules& rules, int32_t y, std::string_view row);

// Loads level n into a fresh grid and resets the per-level state (STATE_PLAYING).
void load_level(Rules& rules, int32_t level);
