// Builds a scripted run frame by frame for replay_run_script: the pointer over a cell, clicks,
// keys tapped, idle time. Used by the golden-run maker and the replay tests.
#pragma once

#include <cstdint>
#include <vector>

#include "game/input.h"

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

// Through the intro's twelve lines with Space.
inline Script& through_intro(Script& script) {
  for (int line = 0; line < 12; ++line) script.tap(INPUT_RELEASED_SPACE);
  return script;
}

}  // namespace replay_script
