// A game pad: the first one connected, read as a plain record of our own codes, so nothing
// above the media layer knows whose pads these are. Pads come and go while the game runs; the
// event pump notes their arrivals and departures in the frame's record and pad_examine opens
// and closes them. A machine without a pad reads a record with nothing connected.
#pragma once

#include <cstdint>

// PadRecord::buttons bits.
constexpr uint32_t PAD_A = 1u << 0;
constexpr uint32_t PAD_B = 1u << 1;
constexpr uint32_t PAD_X = 1u << 2;
constexpr uint32_t PAD_Y = 1u << 3;
constexpr uint32_t PAD_BACK = 1u << 4;
constexpr uint32_t PAD_START = 1u << 5;
constexpr uint32_t PAD_LEFT_SHOULDER = 1u << 6;
constexpr uint32_t PAD_RIGHT_SHOULDER = 1u << 7;
constexpr uint32_t PAD_UP = 1u << 8;
constexpr uint32_t PAD_DOWN = 1u << 9;
constexpr uint32_t PAD_LEFT = 1u << 10;
constexpr uint32_t PAD_RIGHT = 1u << 11;

// A stick this close to its middle reads 0: a worn stick never rests exactly there.
constexpr int32_t PAD_DEAD_ZONE = 8000;
constexpr int32_t PAD_STICK_MAX = 32767;

// What the pad said at the last examine.
struct PadRecord {
  int32_t connected = 0;  // a pad is open; without one everything below reads 0
  uint32_t buttons = 0;   // PAD_* bits held
  int32_t stick_x = 0;    // the left stick, -32768..32767, right and down positive; 0 inside
  int32_t stick_y = 0;    //   the dead zone
};

// Takes SDL's pad support; 1 on success. A failure only means no pad will ever be seen.
int32_t pad_init();
// Closes the pad and gives the support back (program end).
void pad_shutdown();
// Applies the arrivals and departures of the frame's events_pump and reads the first open pad.
// Call it in every frame, also while the game is behind, so no arrival or departure is missed.
PadRecord pad_examine();
