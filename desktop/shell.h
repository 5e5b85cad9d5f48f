// The desktop's shell around the program's frame: start-up with a window, the paced frame loop
// with its pauses, the end of the program. Tests drive the real loop one game_frame at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "play/app.h"

constexpr int32_t GAME_FRAME_SLEEP_MS = 5;          // sleep at the end of every frame
constexpr int32_t GAME_MODE_SWITCH_PAUSE_MS = 250;  // after Ctrl+F
constexpr int32_t GAME_END_PAUSE_MS = 500;          // the hidden window's last half second

// Brings up the media layer, the font, the colour ramp, the display and the sounds, and shows
// one black frame; the program's frame is ready for a mode. A failing display step ends the
// program through fatal_error.
void shell_startup();
// shell_startup, then the game from its intro.
void game_startup();
// Runs one frame of the program in the window, then its pauses; what the frame asked of the
// shell is added to asks (when given). Returns 0 when the loop should end. A display switch
// that fails ends the program through fatal_error.
int32_t game_frame(std::vector<AppAsk>* asks = nullptr);
// How many frames game_frame has run, readable from any thread: a bench watching from beside
// the loop finds the longest time the loop went without one.
uint64_t game_frames_run();
// After the loop: hides the window for half a second when windowed, then shuts the media
// layer down. The caller then ends the process.
void game_end();
