// The spine of the game: start-up, one frame of the main loop, and the end of the run.
// Tests drive the real loop through these three, one frame at a time.
#pragma once

#include <cstdint>

// Resets the game state, brings up the media layer, the font, the colour ramp, the display and
// the sounds, shows one black frame, loads level 1 and opens the intro block. A failing display
// step ends the program through fatal_error.
void game_startup();
// Skips the intro: starts level (1..10) with score 0 and the music, as the intro's end would.
void start_practice_level(int32_t level);
// Runs one frame of the main loop; returns 0 when the loop should end (quit requested).
int32_t game_frame();
// After the loop: hides the window for half a second when windowed, then shuts the media
// layer down. The caller then ends the process with exit code 0.
void game_end();
// After a won level's tally: opens the block that follows it, or loads the next level at once.
void advance_level();

constexpr int32_t GAME_FRAME_RATE = 50;          // frames per second, paced by screen_flip
constexpr int32_t GAME_FRAME_SLEEP_MS = 5;        // sleep at the end of every frame
constexpr int32_t GAME_MODE_SWITCH_PAUSE_MS = 250;  // after Ctrl+F
constexpr int32_t GAME_END_PAUSE_MS = 500;        // the hidden window's last half second
