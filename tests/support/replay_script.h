// Builds a scripted run frame by frame for replay_run_script: the pointer over a cell, clicks,
// keys tapped, idle time. Used by the golden-run maker and the replay tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/level_stream.h"
#include "play/input.h"
#include "play/session.h"

namespace replay_script {

class Script {
 public:
  // n frames with nothing new: the pointer and held buttons and keys stay.
  Script& idle(int n) {
    for (int i = 0; i < n; ++i) frames.push_back(held_);
    return *this;
  }
  // One frame in which the keys of events were released, then a few quiet frames.
  Script& tap(uint8_t events, int quiet = 4) {
    InputFrame frame = held_;
    frame.events = events;
    frames.push_back(frame);
    return idle(quiet);
  }
  // Ctrl held while F is released, as the display switch is typed.
  Script& ctrl_f() {
    held_.held |= INPUT_HELD_LCONTROL;
    tap(INPUT_RELEASED_F, 0);
    held_.held &= static_cast<uint8_t>(~INPUT_HELD_LCONTROL);
    return idle(4);
  }
  Script& escape() {
    held_.held |= INPUT_HELD_ESCAPE;
    return idle(1);
  }
  // The pointer over the centre of cell (x, y) of a grid of grid_cells across on the 480-pixel
  // board that starts at pixel 80.
  Script& point_at_cell(int32_t x, int32_t y, int32_t grid_cells) {
    held_.pointer_x = 80 + 480 * x / grid_cells + 480 / grid_cells / 2;
    held_.pointer_y = 480 * y / grid_cells + 480 / grid_cells / 2;
    return *this;
  }
  // button (INPUT_HELD_LEFT or INPUT_HELD_RIGHT) held over cell (x, y) for one frame.
  Script& click(uint8_t button, int32_t x, int32_t y, int32_t grid_cells) {
    point_at_cell(x, y, grid_cells);
    held_.held |= button;
    idle(1);
    held_.held &= static_cast<uint8_t>(~button);
    return idle(1);
  }

  // The frames given, as they are; the next quiet frame holds what the last of them held.
  Script& append(const std::vector<InputFrame>& given) {
    frames.insert(frames.end(), given.begin(), given.end());
    if (!given.empty()) {
      held_ = given.back();
      held_.events = 0;
    }
    return *this;
  }

  std::vector<InputFrame> frames;  // the script so far

 private:
  InputFrame held_;  // what the next quiet frame holds (window in front, nothing pressed)
};

// Level 1's room has four gaps; these walls close it.
inline Script& contain_level_1(Script& script) {
  for (auto [x, y] : {std::pair{10, 12}, {18, 16}, {10, 17}, {11, 18}}) {
    script.click(INPUT_HELD_LEFT, x, y, 30);
  }
  return script;
}

// Space taps that take the story block at offset of the stream being read from its first line
// to its end: one a line shown. An "&" entry is never shown, and a "~" line ends the run by
// itself, so neither takes a tap.
inline int story_lines(size_t offset) {
  Rules reader;
  reader.stream = &session_stream();
  reader.level_data_cursor = offset;
  int lines = 0;
  for (;;) {
    const std::string line = level_read_string(reader);
    if (line.empty() || line == "*") break;
    level_read_int(reader);
    if (line[0] == '~') break;
    if (line[0] != '&') ++lines;
  }
  return lines;
}

// Through the story block at offset with Space. The last tap is the script's last frame: the
// one in which the next level loads, or the final line is shown.
inline Script& through_story(Script& script, size_t offset) {
  const int lines = story_lines(offset);
  for (int line = 0; line < lines; ++line) {
    script.tap(INPUT_RELEASED_SPACE, line + 1 < lines ? 4 : 0);
  }
  return script;
}

// Through the intro's lines with Space, and four quiet frames on level 1.
inline Script& through_intro(Script& script) {
  return through_story(script, LEVEL_ENTRY_INTRO).idle(4);
}

}  // namespace replay_script
