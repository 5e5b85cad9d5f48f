// Reading the level stream, and turning a level record into a fresh grid.
#include "game/level_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "game/game_globals.h"
#include "media/str.h"

size_t level_data_cursor;

namespace {

constexpr int32_t LEVEL_COUNT = LEVEL_BUILTIN_COUNT;
constexpr int32_t LEVEL_BOARD_SIZE = 480;  // the board is this square, whatever the grid size

// Start of each level's record, by level number (index 0 is unused: it maps to level 1).
constexpr size_t LEVEL_RECORD_OFFSETS[LEVEL_COUNT + 1] = {383,  383,  1432, 2422, 3426, 4495,
                                                          5558, 6598, 7548, 7988, 9724};
// Start of the message block shown after each level, by level number; -1 where the next level
// follows at once.
constexpr long LEVEL_BLOCK_OFFSETS[LEVEL_COUNT + 1] = {
    -1, 1333, 2382, 3372, 4376, 5445, 6508, -1, -1, 9648, LEVEL_ENTRY_FINAL};

// The stream the readers use. The built-in one is read in place; an installed pack's is owned.
struct StreamState {
  const unsigned char* bytes = level_stream;   // start of the stream
  size_t size = LEVEL_STREAM_SIZE;              // its length in bytes
  const size_t* records = LEVEL_RECORD_OFFSETS + 1;  // record of level n at [n - 1]
  const long* blocks = LEVEL_BLOCK_OFFSETS + 1;      // block after level n at [n - 1]
  int32_t count = LEVEL_COUNT;                  // levels in the stream
  LevelStream installed;                        // owner of an installed pack's stream
};

StreamState STREAM;

// The flags an upper-case map letter gives its cell; unknown letters leave the cell open.
int32_t level_letter_flags(char letter) {
  switch (letter) {
    case 'I':
      return CELL_CHEMICAL;
    case 'W':
      return CELL_WALL;
    case 'D':
      return CELL_WALL | CELL_BLOCK;
    case 'N':
      return CELL_NITRO;
    case 'T':
      return CELL_TETRA;
    default:
      return 0;
  }
}

}  // namespace

void level_stream_install(LevelStream stream) {
  STREAM.installed = std::move(stream);
  STREAM.bytes = STREAM.installed.bytes.data();
  STREAM.size = STREAM.installed.bytes.size();
  STREAM.records = STREAM.installed.records.data();
  STREAM.blocks = STREAM.installed.blocks.data();
  STREAM.count = static_cast<int32_t>(STREAM.installed.records.size());
}

void level_stream_use_builtin() { STREAM = StreamState{}; }

LevelStream level_stream_builtin() {
  return {std::vector<unsigned char>(level_stream, level_stream + LEVEL_STREAM_SIZE),
          std::vector<size_t>(LEVEL_RECORD_OFFSETS + 1, LEVEL_RECORD_OFFSETS + LEVEL_COUNT + 1),
          std::vector<long>(LEVEL_BLOCK_OFFSETS + 1, LEVEL_BLOCK_OFFSETS + LEVEL_COUNT + 1)};
}

int32_t level_count() { return STREAM.count; }

const unsigned char* level_stream_data() { return STREAM.bytes; }

size_t level_stream_length() { return STREAM.size; }

size_t level_record_offset(int32_t level) {
  return level >= 1 && level <= STREAM.count ? STREAM.records[level - 1] : STREAM.records[0];
}

long level_block_offset(int32_t finished_level) {
  return finished_level >= 1 && finished_level <= STREAM.count ? STREAM.blocks[finished_level - 1]
                                                               : -1;
}

// Both readers stop at the end of the stream, so a cursor set past an entry's end yields empty
// items instead of reading outside the array.
std::string level_read_string() {
  if (level_data_cursor >= STREAM.size) return {};
  const char* start = reinterpret_cast<const char*>(STREAM.bytes) + level_data_cursor;
  const size_t length = strnlen(start, STREAM.size - level_data_cursor);
  level_data_cursor = std::min(level_data_cursor + length + 1, STREAM.size);
  return std::string(start, length);
}

int32_t level_read_int() {
  if (level_data_cursor + 4 > STREAM.size) {
    level_data_cursor = STREAM.size;
    return 0;
  }
  const unsigned char* bytes = STREAM.bytes + level_data_cursor;
  level_data_cursor += 4;
  return static_cast<int32_t>(
      static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
      static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

void level_set_row(int32_t y, std::string_view row) {
  if (y < 0 || y >= grid_height) return;
  const std::string letters = str_upper(row);
  for (int32_t x = 0; x < grid_width; ++x) {
    // A short row leaves its missing cells as open floor; letters past the width are ignored.
    grid_at(x, y).flags =
        x < static_cast<int32_t>(letters.size()) ? level_letter_flags(letters[x]) : 0;
  }
}

void load_level(int32_t level) {
  level_number = level;
  board_size = LEVEL_BOARD_SIZE;
  level_data_cursor = level_record_offset(level);
  grid_width = level_read_int();
  grid_height = level_read_int();
  cell_width = LEVEL_BOARD_SIZE / grid_width;
  cell_height = LEVEL_BOARD_SIZE / grid_height;
  board_left = (SCREEN_WIDTH - LEVEL_BOARD_SIZE) / 2;
  board_top = (SCREEN_HEIGHT - LEVEL_BOARD_SIZE) / 2;
  barriers_left = level_read_int();
  spread_rate = level_read_int();
  spread_threshold = level_read_int();

  grid.assign(static_cast<size_t>(grid_width) * grid_height, Cell{});
  for (int32_t y = 0; y < grid_height; ++y) level_set_row(y, level_read_string());

  barriers_at_start = barriers_left > 0 ? barriers_left : 1;  // it divides the gauge height
  contained = 0;
  game_state = STATE_PLAYING;
  edge_reached = 0;
  shake_frames = 0;
}
