// The desktop's shell around the game: start-up with a window, the paced frame loop with its
// pauses, the end of the program. Tests drive the real loop one game_frame at a time.
#pragma once

#include <cstdint>

constexpr int32_t GAME_FRAME_RATE = 50;             // frames per second, paced by screen_flip
constexpr int32_t GAME_FRAME_SLEEP_MS = 5;          // sleep at the end of every frame
constexpr int32_t GAME_MODE_SWITCH_PAUSE_MS = 250;  // after Ctrl+F
constexpr int32_t GAME_END_PAUSE_MS = 500;          // the hidden window's last half second

// Resets the game state, brings up the media layer, the font, the colour ramp, the display and
// the sounds, shows one black frame, loads level 1 and opens the intro block. A failing display
// step ends the program through fatal_error.
void game_startup();
// Runs one frame of the game in the window, then its pauses; returns 0 when the loop should
// end. A display switch that fails ends the program through fatal_error.
int32_t game_frame();
// After the loop: hides the window for half a second when windowed, then shuts the media
// layer down. The caller then ends the process with exit code 0.
void game_end();
