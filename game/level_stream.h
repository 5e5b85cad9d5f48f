// The built-in level stream: story blocks and level records, read strictly in order through
// level_data_cursor. Items are zero-terminated strings and little-endian int32 values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t LEVEL_STREAM_SIZE = 10932;       // total length in bytes
extern const unsigned char level_stream[LEVEL_STREAM_SIZE];

// Entry offsets into level_stream.
constexpr size_t LEVEL_ENTRY_INTRO = 0;           // intro block, ends with "*"
constexpr size_t LEVEL_ENTRY_FINAL = 10674;       // final block, after level 10
// Offset of the record of level n (1..10); any other n gets level 1's record.
size_t level_record_offset(int32_t level);
// Offset of the message block shown after level n, or -1 when none follows it (7, 8, others).
long level_block_offset(int32_t finished_level);

extern size_t level_data_cursor;  // read position in level_stream

// Reads the string item at the cursor and moves past its zero byte.
std::string level_read_string();
// Reads the int32 item at the cursor and moves by 4.
int32_t level_read_int();

// Sets the flags of grid row y from a map row (any case; unknown letters and missing ones are open
// floor, letters beyond grid_width are ignored). Rows outside the grid are ignored.
void level_set_row(int32_t y, std::string_view row);

// Loads level n into a fresh grid and resets the per-level state (STATE_PLAYING).
void load_level(int32_t level);
