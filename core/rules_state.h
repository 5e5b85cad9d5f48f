// Which fields of the rules' record (Rules, core/rules.h) are their state, the part a replay's
// checksum covers, and which are not. Every field of Rules is named here exactly once, and the
// count of Rules's fields is checked against these lists when this builds: a field added to Rules
// stops the build until someone puts it in the state, where the checksum takes it, or among the
// fields that are not state, with the reason.
#pragma once

#include <cstddef>
#include <tuple>

#include "core/rules.h"

// The numbers of the state, in the order the checksum takes them: another order gives other
// checksums, and the replays already recorded would no longer verify.
inline constexpr auto RULES_STATE_NUMBERS = std::make_tuple(
    &Rules::game_state, &Rules::level_number, &Rules::quit_requested, &Rules::plain_view,
    &Rules::score, &Rules::grid_width, &Rules::grid_height, &Rules::board_size, &Rules::board_left,
    &Rules::board_top, &Rules::cell_width, &Rules::cell_height, &Rules::barriers_left,
    &Rules::barriers_at_start, &Rules::spread_rate, &Rules::spread_threshold, &Rules::contained,
    &Rules::edge_reached, &Rules::fill_generation, &Rules::mouse_px, &Rules::mouse_py,
    &Rules::cursor_x, &Rules::cursor_y, &Rules::cursor_on_board, &Rules::empty_click_latch,
    &Rules::tally_frames, &Rules::level_data_cursor, &Rules::message_colour);
// The rest of the state, taken after the numbers: the story line, then the grid cell by cell,
// every field of each cell.
inline constexpr auto RULES_STATE_LINE = &Rules::message_line;
inline constexpr auto RULES_STATE_GRID = &Rules::grid;
constexpr size_t RULES_STATE_OTHERS = 2;

// The fields that are not state, so that a run with sound and one without, drawn or not, and
// on any copy of the level data agree.
inline constexpr auto RULES_NOT_STATE = std::make_tuple(
    &Rules::sound_ok,      // whether a sound device exists
    &Rules::shake_frames,  // the picture's shake, which only a game with sound has
    &Rules::stream,        // where the levels are read from (a replay checks their hash apart)
    &Rules::effects,       // who is told of the cues
    &Rules::fill_stack);   // the containment fill's scratch, kept only for its capacity

// The number of fields of an aggregate: the most initialisers T{...} takes, each one a value that
// converts to any field's type.
struct RulesAnyField {
  template <class T>
  operator T() const;  // never called: only the initialiser's validity is asked
};
template <class T, class... Fields>
consteval size_t rules_field_count() {
  if constexpr (requires { T{Fields{}..., RulesAnyField{}}; }) {
    return rules_field_count<T, Fields..., RulesAnyField>();
  } else {
    return sizeof...(Fields);
  }
}

static_assert(std::tuple_size_v<decltype(RULES_STATE_NUMBERS)> + RULES_STATE_OTHERS +
                      std::tuple_size_v<decltype(RULES_NOT_STATE)> ==
                  rules_field_count<Rules>(),
              "a field of Rules is in none of the lists above: put it in the state the replay "
              "checksum covers, or among the fields that are not state");
static_assert(rules_field_count<Cell>() == 4,
              "the checksum takes a cell's four fields: a new one must be added to it");
