// Reading the level stream, and turning a level record into a fresh grid.
#include "core/level_stream.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/bytes.h"
#include "core/rules.h"

namespace {

constexpr int32_t LEVEL_BOARD_SIZE = 480;  // the board is this square, whatever the grid size

// Start of each level's record, by level number.
constexpr size_t LEVEL_RECORD_OFFSETS[LEVEL_BUILTIN_COUNT] = {383,  1432, 2422, 3426, 4495,
                                                              5558, 6598, 7548, 7988, 9724};
// Start of the message block shown after each level; -1 where the next level follows at once.
constexpr long LEVEL_BLOCK_OFFSETS[LEVEL_BUILTIN_COUNT] = {
    1333, 2382, 3372, 4376, 5445, 6508, -1, -1, 9648, LEVEL_ENTRY_FINAL};

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

const LevelStream& level_stream_builtin() {
  static const LevelStream builtin = {
      std::vector<unsigned char>(level_stream, level_stream + LEVEL_STREAM_SIZE),
      std::vector<size_t>(std::begin(LEVEL_RECORD_OFFSETS), std::end(LEVEL_RECORD_OFFSETS)),
      std::vector<long>(std::begin(LEVEL_BLOCK_OFFSETS), std::end(LEVEL_BLOCK_OFFSETS))};
  return builtin;
}

int32_t level_count(const LevelStream& stream) {
  return static_cast<int32_t>(stream.records.size());
}

size_t level_record_offset(const LevelStream& stream, int32_t level) {
  return level >= 1 && level <= level_count(stream) ? stream.records[level - 1] : stream.records[0];
}

long level_block_offset(const LevelStream& stream, int32_t finished_level) {
  return finished_level >= 1 && finished_level <= level_count(stream)
             ? stream.blocks[finished_level - 1]
             : -1;
}

void rules_start(Rules& rules, const LevelStream* stream, const RulesEffects* effects) {
  rules = Rules{};
  rules.stream = stream;
  rules.effects = effects;
  rules.level_data_cursor = LEVEL_ENTRY_INTRO;
  rules.level_number = 1;
  rules.fill_generation = 1;
  rules.game_state = STATE_MESSAGE;
}

const LevelStream& rules_stream(const Rules& rules) {
  return rules.stream ? *rules.stream : level_stream_builtin();
}

// Both readers stop at the end of the stream, so a cursor set past an entry's end yields empty
// items instead of reading outside the array.
std::string level_read_string(Rules& rules) {
  const std::vector<unsigned char>& stream = rules_stream(rules).bytes;
  size_t& cursor = rules.level_data_cursor;
  if (cursor >= stream.size()) return {};
  const char* start = reinterpret_cast<const char*>(stream.data()) + cursor;
  const size_t length = strnlen(start, stream.size() - cursor);
  cursor = std::min(cursor + length + 1, stream.size());
  return std::string(start, length);
}

int32_t level_read_int(Rules& rules) {
  const std::vector<unsigned char>& stream = rules_stream(rules).bytes;
  size_t& cursor = rules.level_data_cursor;
  if (cursor + 4 > stream.size()) {
    cursor = stream.size();
    return 0;
  }
  const unsigned char* bytes = stream.data() + cursor;
  cursor += 4;
  return static_cast<int32_t>(bytes_le32(bytes));
}

void level_set_row(Rules& rules, int32_t y, std::string_view row) {
  if (y < 0 || y >= rules.grid_height) return;
  for (int32_t x = 0; x < rules.grid_width; ++x) {
    // A short row leaves its missing cells as open floor; letters past the width are ignored.
    // ASCII upper case only, whatever the user's locale.
    char letter = x < static_cast<int32_t>(row.size()) ? row[x] : ' ';
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    rules.at(x, y).flags = level_letter_flags(letter);
  }
}

void load_level(Rules& rules, int32_t level) {
  rules.level_number = level;
  rules.board_size = LEVEL_BOARD_SIZE;
  rules.level_data_cursor = level_record_offset(rules_stream(rules), level);
  rules.grid_width = level_read_int(rules);
  rules.grid_height = level_read_int(rules);
  rules.cell_width = LEVEL_BOARD_SIZE / rules.grid_width;
  rules.cell_height = LEVEL_BOARD_SIZE / rules.grid_height;
  rules.board_left = (SCREEN_WIDTH - LEVEL_BOARD_SIZE) / 2;
  rules.board_top = (SCREEN_HEIGHT - LEVEL_BOARD_SIZE) / 2;
  rules.barriers_left = level_read_int(rules);
  rules.spread_rate = level_read_int(rules);
  rules.spread_threshold = level_read_int(rules);

  rules.grid.assign(static_cast<size_t>(rules.grid_width) * rules.grid_height, Cell{});
  for (int32_t y = 0; y < rules.grid_height; ++y) level_set_row(rules, y, level_read_string(rules));

  rules.barriers_at_start =
      rules.barriers_left > 0 ? rules.barriers_left : 1;  // it divides the gauge height
  rules.contained = 0;
  rules.game_state = STATE_PLAYING;
  rules.edge_reached = 0;
  rules.shake_frames = 0;
}
