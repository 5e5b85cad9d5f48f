// The settings screen, over a paused game: the two volumes, the palette, the key of each of the
// game's actions, the pad's stick speed and the defaults back, chosen with the arrows, Enter,
// the mouse or the pad. It changes the settings it is given and says so; applying and keeping
// them is its caller's. It reads the player's keys as they are, never as the bindings make them.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "play/input.h"
#include "play/session.h"

// The screen's rows, top to bottom.
enum SettingsRow : int32_t {
  SETTINGS_ROW_EFFECTS,
  SETTINGS_ROW_MUSIC,
  SETTINGS_ROW_PALETTE,
  SETTINGS_ROW_FIRST_KEY,  // one row a SettingsAction, in their order
  SETTINGS_ROW_PAD = SETTINGS_ROW_FIRST_KEY + SETTINGS_ACTIONS,
  SETTINGS_ROW_DEFAULTS,
  SETTINGS_ROWS,  // how many
};

// settings_screen_frame's answer bits.
constexpr int32_t SETTINGS_SCREEN_CHANGED = 1;  // a setting changed: apply and keep it
constexpr int32_t SETTINGS_SCREEN_CLOSED = 2;   // the player left the screen (Escape, F2, B)

// The key that opens and closes the screen (set-1 code).
constexpr int32_t KEY_F2 = 0x3C;

// Opens the screen on its first row. Buttons held now act only once let go and pressed again.
void settings_screen_open();
int32_t settings_screen_is_open();
void settings_screen_close();
// One frame of the open screen on the player's input: moves, changes settings (marked is the
// palette in use, which a command line may have set apart from the saved one), refuses a key
// that is another action's with a line that says whose. SETTINGS_SCREEN_* bits.
int32_t settings_screen_frame(const PlayerInput& input, Settings& settings, int32_t& marked);
// Draws the screen into the open drawing pass, in picture's font, over black.
void settings_screen_draw(const Settings& settings, int32_t marked, const View& picture);
// The row selected and the line said last (the tests read them).
int32_t settings_screen_row();
const char* settings_screen_said();
// The selected row in words, as a screen reader says it: its name and its value ("MUSIC
// VOLUME 5"); marked is the palette in use.
std::string settings_screen_row_words(const Settings& settings, int32_t marked);
// Whether a key row waits for its new key.
int32_t settings_screen_waiting();
