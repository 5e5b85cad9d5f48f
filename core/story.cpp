#include "core/story.h"

#include <string>

#include "core/level_stream.h"

namespace {

// Removes the first character of message_line when it is cue; true if it was there.
bool take_cue(Rules& rules, char cue) {
  if (rules.message_line.empty() || rules.message_line[0] != cue) return false;
  rules.message_line.erase(0, 1);
  return true;
}

}  // namespace

void story_open(Rules& rules, size_t offset) {
  rules.level_data_cursor = offset;
  rules.message_line = level_read_string(rules);
  rules.message_colour = static_cast<uint32_t>(level_read_int(rules));
  rules.game_state = STATE_MESSAGE;
}

void story_take_cues(Rules& rules) {
  if (!rules.message_line.empty() && rules.message_line[0] == '&') {
    // The "&" entry itself is never shown: the music stops and the next entry takes its place
    // in the same frame.
    rules_stop_music(rules);
    rules.message_line = level_read_string(rules);
    rules.message_colour = static_cast<uint32_t>(level_read_int(rules));
  }
  if (!rules.message_line.empty() && rules.message_line[0] == '~') rules.quit_requested = 1;
  // A consumed cue character is gone from the line, so each sound plays in the first frame only.
  if (take_cue(rules, '#')) rules_cue(rules, SOUND_WARN);
  if (take_cue(rules, '$')) rules_cue(rules, SOUND_CLICK);
  if (take_cue(rules, '%')) rules_cue(rules, SOUND_CANT);
}

void story_show_score(Rules& rules) {
  const std::string score = std::to_string(rules.score);
  std::string& line = rules.message_line;
  // Left to right, never looking into a score already put in.
  for (size_t at = line.find("%S"); at != std::string::npos; at = line.find("%S", at)) {
    line.replace(at, 2, score);
    at += score.size();
  }
}

void story_next_line(Rules& rules) {
  rules.message_line = level_read_string(rules);
  if (rules.message_line == "*") {
    // Only the opening block ends on "*": the music starts here and runs for the whole game.
    rules_start_music(rules);
    rules.message_line.clear();
  }
  if (!rules.message_line.empty()) {
    rules.message_colour = static_cast<uint32_t>(level_read_int(rules));
    return;
  }
  rules_centre_pointer(rules);
  load_level(rules, rules.level_number);
}

void advance_level(Rules& rules) {
  const long block = level_block_offset(rules_stream(rules), rules.level_number);
  if (block < 0) {
    // Levels without a story screen after them go straight on, pointer where it was.
    load_level(rules, rules.level_number + 1);
    return;
  }
  rules.level_number += 1;
  story_open(rules, static_cast<size_t>(block));
}
