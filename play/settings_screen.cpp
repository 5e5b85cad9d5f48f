#include "play/settings_screen.h"

#include <algorithm>
#include <string>

#include "core/key_names.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/pad.h"
#include "media/screen.h"

namespace {

constexpr int32_t SETTINGS_VOLUME_STEP = 10;

// Where things are drawn, in game pixels.
constexpr int32_t SETTINGS_TITLE_Y = 14;
constexpr int32_t SETTINGS_ROW_TOP = 48;
constexpr int32_t SETTINGS_ROW_STEP = 24;
constexpr int32_t SETTINGS_LEFT = 100;  // the rows' plates
constexpr int32_t SETTINGS_RIGHT = 540;
constexpr int32_t SETTINGS_LABEL_X = 116;       // the settings' names
constexpr int32_t SETTINGS_VALUE_MIDDLE = 450;  // the values are centred here; a click on a
                                                // value's left lowers it, on its right raises it
constexpr int32_t SETTINGS_HINT_Y = 418;
constexpr int32_t SETTINGS_SAID_Y = 446;

// Colours (0x00BBGGRR).
constexpr uint32_t SETTINGS_TITLE = 0xFFFFFF;
constexpr uint32_t SETTINGS_LABEL = 0xC0C0C0;    // light grey names
constexpr uint32_t SETTINGS_VALUE = 0xFFFFFF;    // white values
constexpr uint32_t SETTINGS_WAIT = 0x00FFFF;     // yellow: a key row waiting for its key
constexpr uint32_t SETTINGS_GOOD = 0x00FF00;     // green: a change taken
constexpr uint32_t SETTINGS_BAD = 0x0000FF;      // red: a key refused
constexpr uint32_t SETTINGS_PLATE = 0x404040;    // the selected row
constexpr uint32_t SETTINGS_POINTER = 0x00FFFF;  // the mouse's place (the system's is hidden)

const char* const PAD_SPEED_WORDS[] = {"SLOW", "NORMAL", "FAST"};

struct SettingsScreenState {
  int32_t open = 0;     // the screen is shown and the game waits
  int32_t row = 0;      // SettingsRow selected
  int32_t waiting = 0;  // the selected key row takes the next key pressed
  std::string said;     // the line under the rows
  uint32_t said_colour = SETTINGS_GOOD;
  uint8_t buttons_before = 0;  // the mouse buttons of the last frame, to tell a fresh click
  uint32_t pad_before = 0;     // the pad's buttons of the last frame, to tell a fresh press
  int32_t pad_back_armed = 0;  // B went down on this screen: its release goes back
  int32_t pointer_known = 0;   // pointer_x and _y hold the last frame's pointer
  int32_t pointer_x = -1;      // the pointer last frame, to tell the mouse moving
  int32_t pointer_y = -1;
};

SettingsScreenState SETTINGS_SCREEN;

int32_t row_y(int32_t row) { return SETTINGS_ROW_TOP + SETTINGS_ROW_STEP * row; }

// The row under the pointer, or -1.
int32_t row_at(int32_t x, int32_t y) {
  if (x < SETTINGS_LEFT || x >= SETTINGS_RIGHT) return -1;
  const int32_t top = SETTINGS_ROW_TOP - 4;
  if (y < top) return -1;
  const int32_t row = (y - top) / SETTINGS_ROW_STEP;
  return row < SETTINGS_ROWS ? row : -1;
}

void say(const std::string& line, uint32_t colour) {
  SETTINGS_SCREEN.said = line;
  SETTINGS_SCREEN.said_colour = colour;
}

std::string key_words(int32_t code) {
  const char* name = key_name(code);
  return name ? name : "THAT KEY";
}

// A volume one step down (direction -1) or up (1), on the steps of ten; 0 wraps from the top.
int32_t stepped(int32_t volume, int32_t direction) {
  if (direction == 0) return volume >= 100 ? 0 : std::min(100, volume / 10 * 10 + 10);
  if (direction < 0) return volume % 10 != 0 ? volume / 10 * 10 : std::max(0, volume - 10);
  return std::min(100, volume / 10 * 10 + SETTINGS_VOLUME_STEP);
}

// Changes the selected row: direction -1 or 1 (Left, Right, a click on a value's side), or 0
// (Enter, A, a click elsewhere). True when a setting changed.
bool change(int32_t row, int32_t direction, Settings& settings, int32_t& marked) {
  const Settings before = settings;
  const int32_t marked_before = marked;
  if (row == SETTINGS_ROW_EFFECTS)
    settings.effects_volume = stepped(settings.effects_volume, direction);
  if (row == SETTINGS_ROW_MUSIC) settings.music_volume = stepped(settings.music_volume, direction);
  if (row == SETTINGS_ROW_PALETTE) {
    // Chosen here it is the player's palette, kept from now on, whatever the command line said.
    marked = direction == 0 ? 1 - marked : direction > 0 ? 1 : 0;
    settings.palette_marked = marked;
  }
  if (row >= SETTINGS_ROW_FIRST_KEY && row < SETTINGS_ROW_PAD && direction == 0) {
    SETTINGS_SCREEN.waiting = 1;
    say("PRESS THE KEY FOR " +
            std::string(SETTINGS_ACTION_INFO[row - SETTINGS_ROW_FIRST_KEY].label) +
            " (ESCAPE: NO CHANGE)",
        SETTINGS_WAIT);
  }
  if (row == SETTINGS_ROW_PAD) {
    settings.pad_stick_speed =
        direction == 0
            ? (settings.pad_stick_speed + 1) % (PAD_SPEED_FAST + 1)
            : std::clamp(settings.pad_stick_speed + direction, PAD_SPEED_SLOW, PAD_SPEED_FAST);
  }
  if (row == SETTINGS_ROW_DEFAULTS && direction == 0) {
    Settings defaults;
    defaults.kept = settings.kept;
    settings = defaults;
    marked = 0;
    say("THE DEFAULTS ARE BACK", SETTINGS_GOOD);
  }
  return !(settings == before) || marked != marked_before;
}

// The waiting row takes the key pressed, unless it cannot be chosen or another action has it.
bool take_key(const PlayerInput& input, Settings& settings) {
  const int32_t action = SETTINGS_SCREEN.row - SETTINGS_ROW_FIRST_KEY;
  for (int32_t code = 1; code < INPUT_KEY_CODES; ++code) {
    // Escape's release cancels; keypad Enter also reads as Enter, which is taken first.
    if (!input.pressed[code] || code == KEY_ESCAPE || code == KEY_KEYPAD_ENTER) continue;
    if (!key_bindable(code)) {
      say(key_words(code) + " CANNOT BE CHOSEN", SETTINGS_BAD);
      return false;
    }
    const int32_t owner = settings_key_owner(settings, code);
    if (owner >= 0 && owner != action) {
      say(key_words(code) + " IS ALREADY THE KEY OF " + SETTINGS_ACTION_INFO[owner].label,
          SETTINGS_BAD);
      return false;
    }
    SETTINGS_SCREEN.waiting = 0;
    say(std::string(SETTINGS_ACTION_INFO[action].label) + ": " + key_words(code), SETTINGS_GOOD);
    if (settings.keys[action] == code) return false;
    settings.keys[action] = code;
    return true;
  }
  return false;
}

std::string value_of(int32_t row, const Settings& settings, int32_t marked) {
  switch (row) {
    case SETTINGS_ROW_EFFECTS:
      return "<  " + std::to_string(settings.effects_volume) + "  >";
    case SETTINGS_ROW_MUSIC:
      return "<  " + std::to_string(settings.music_volume) + "  >";
    case SETTINGS_ROW_PALETTE:
      return marked ? "MARKED" : "PLAIN";
    case SETTINGS_ROW_PAD:
      return PAD_SPEED_WORDS[std::clamp(settings.pad_stick_speed, PAD_SPEED_SLOW, PAD_SPEED_FAST)];
    case SETTINGS_ROW_DEFAULTS:
      return "";
    default:
      if (SETTINGS_SCREEN.waiting && row == SETTINGS_SCREEN.row) return "...";
      return key_words(settings.keys[row - SETTINGS_ROW_FIRST_KEY]);
  }
}

const char* label_of(int32_t row) {
  switch (row) {
    case SETTINGS_ROW_EFFECTS:
      return "EFFECTS VOLUME";
    case SETTINGS_ROW_MUSIC:
      return "MUSIC VOLUME";
    case SETTINGS_ROW_PALETTE:
      return "PALETTE";
    case SETTINGS_ROW_PAD:
      return "PAD STICK SPEED";
    case SETTINGS_ROW_DEFAULTS:
      return "RESTORE DEFAULTS";
    default:
      return SETTINGS_ACTION_INFO[row - SETTINGS_ROW_FIRST_KEY].label;
  }
}

}  // namespace

void settings_screen_open() {
  SETTINGS_SCREEN = SettingsScreenState{};
  SETTINGS_SCREEN.open = 1;
  // Whatever is held as the screen opens is none of its clicks or presses.
  SETTINGS_SCREEN.buttons_before = 0xFF;
  SETTINGS_SCREEN.pad_before = ~0u;
}

int32_t settings_screen_is_open() { return SETTINGS_SCREEN.open; }

void settings_screen_close() { SETTINGS_SCREEN.open = 0; }

int32_t settings_screen_row() { return SETTINGS_SCREEN.row; }

const char* settings_screen_said() { return SETTINGS_SCREEN.said.c_str(); }

int32_t settings_screen_waiting() { return SETTINGS_SCREEN.waiting; }

std::string settings_screen_row_words(const Settings& settings, int32_t marked) {
  const int32_t row = SETTINGS_SCREEN.row;
  std::string value = row == SETTINGS_ROW_EFFECTS ? std::to_string(settings.effects_volume)
                      : row == SETTINGS_ROW_MUSIC ? std::to_string(settings.music_volume)
                                                  : value_of(row, settings, marked);
  return value.empty() ? label_of(row) : label_of(row) + (" " + value);
}

int32_t settings_screen_frame(const PlayerInput& input, Settings& settings, int32_t& marked) {
  SettingsScreenState& screen = SETTINGS_SCREEN;
  if (!screen.open) return 0;
  const uint8_t clicked = input.buttons & static_cast<uint8_t>(~screen.buttons_before);
  screen.buttons_before = input.buttons;
  // The pad's presses from its last frame held; a pad that went away presses nothing.
  const uint32_t pad = input.pad.connected ? input.pad.buttons : 0;
  const uint32_t pad_pressed = pad & ~screen.pad_before;
  const uint32_t pad_released = screen.pad_before & ~pad;
  screen.pad_before = pad;
  if (pad_pressed & PAD_B) screen.pad_back_armed = 1;
  const bool pad_back = (pad_released & PAD_B) && screen.pad_back_armed;
  if (pad_back) screen.pad_back_armed = 0;
  const bool keys = input.keys_read != 0;
  auto pressed = [&](int32_t code) { return keys && input.pressed[code]; };
  const bool escape_released = keys && input.released[KEY_ESCAPE];

  // Where the pointer waits as the screen opens is no move: the first row stays selected.
  const bool moved = screen.pointer_known &&
                     (input.pointer_x != screen.pointer_x || input.pointer_y != screen.pointer_y);
  screen.pointer_known = 1;
  screen.pointer_x = input.pointer_x;
  screen.pointer_y = input.pointer_y;
  int32_t answer = 0;
  if (screen.waiting) {
    if (escape_released || pad_back) {
      screen.waiting = 0;
      say("NO CHANGE", SETTINGS_LABEL);
    } else if (keys && take_key(input, settings)) {
      answer |= SETTINGS_SCREEN_CHANGED;
    }
    return answer;
  }
  if (escape_released || pressed(KEY_F2) || pad_back) {
    screen.open = 0;
    return SETTINGS_SCREEN_CLOSED;
  }
  // The mouse: moving it selects the row under it, a click changes that row.
  const int32_t under = row_at(input.pointer_x, input.pointer_y);
  if (moved && under >= 0) screen.row = under;
  int32_t direction = 0;
  bool act = false;
  if ((clicked & 1) && under >= 0) {
    screen.row = under;
    act = true;
    const bool sides =
        under == SETTINGS_ROW_EFFECTS || under == SETTINGS_ROW_MUSIC || under == SETTINGS_ROW_PAD;
    if (sides) direction = input.pointer_x < SETTINGS_VALUE_MIDDLE ? -1 : 1;
  }
  if (pressed(KEY_UP) || (pad_pressed & PAD_UP)) {
    screen.row = (screen.row + SETTINGS_ROWS - 1) % SETTINGS_ROWS;
  }
  if (pressed(KEY_DOWN) || (pad_pressed & PAD_DOWN)) screen.row = (screen.row + 1) % SETTINGS_ROWS;
  if (pressed(KEY_LEFT) || (pad_pressed & PAD_LEFT)) {
    act = true;
    direction = -1;
  }
  if (pressed(KEY_RIGHT) || (pad_pressed & PAD_RIGHT)) {
    act = true;
    direction = 1;
  }
  if (pressed(KEY_RETURN) || pressed(KEY_SPACE) || (pad_pressed & PAD_A)) {
    act = true;
    direction = 0;
  }
  if (act && change(screen.row, direction, settings, marked)) answer |= SETTINGS_SCREEN_CHANGED;
  return answer;
}

void settings_screen_draw(const Settings& settings, int32_t marked, const View& picture) {
  const SettingsScreenState& screen = SETTINGS_SCREEN;
  draw_set_font(picture.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  const char* title = "SETTINGS";
  draw_text((SCREEN_WIDTH - text_width(title)) / 2, SETTINGS_TITLE_Y, title, SETTINGS_TITLE);
  for (int32_t row = 0; row < SETTINGS_ROWS; ++row) {
    const int32_t y = row_y(row);
    if (row == screen.row) {
      draw_set_mode(0);
      draw_box(SETTINGS_LEFT, y - 3, SETTINGS_RIGHT - SETTINGS_LEFT, SETTINGS_ROW_STEP - 2,
               SETTINGS_PLATE);
      draw_set_mode(DRAW_TRANSPARENT);
    }
    draw_text(SETTINGS_LABEL_X, y, label_of(row), SETTINGS_LABEL);
    const std::string value = value_of(row, settings, marked);
    const bool waiting = screen.waiting && row == screen.row;
    draw_text(SETTINGS_VALUE_MIDDLE - text_width(value.c_str()) / 2, y, value.c_str(),
              waiting ? SETTINGS_WAIT : SETTINGS_VALUE);
  }
  const char* hint = "ARROWS, ENTER, CLICK: CHANGE      ESCAPE: BACK";
  draw_text((SCREEN_WIDTH - text_width(hint)) / 2, SETTINGS_HINT_Y, hint, SETTINGS_LABEL);
  if (!screen.said.empty()) {
    draw_text((SCREEN_WIDTH - text_width(screen.said.c_str())) / 2, SETTINGS_SAID_Y,
              screen.said.c_str(), screen.said_colour);
  }
  // The system's pointer is hidden while the game holds it: a small cross shows where it is.
  draw_set_mode(0);
  draw_box(screen.pointer_x - 5, screen.pointer_y, 11, 1, SETTINGS_POINTER);
  draw_box(screen.pointer_x, screen.pointer_y - 5, 1, 11, SETTINGS_POINTER);
}
