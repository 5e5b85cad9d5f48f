#include "play/editor.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "core/level_stream.h"
#include "core/run.h"
#include "core/share_code.h"
#include "core/story.h"
#include "media/draw.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/timing.h"
#include "media/window.h"
#include "play/board_view.h"
#include "play/input.h"
#include "play/pad_cursor.h"
#include "play/replay.h"
#include "play/session.h"

namespace {

constexpr int32_t EDITOR_BOARD_LEFT = 80;  // the board's square, as the game draws it
constexpr int32_t EDITOR_BOARD_SIZE = 480;
constexpr uint32_t EDITOR_TEXT = 0xC0C0C0;       // light grey labels
constexpr uint32_t EDITOR_VALUE = 0xFFFFFF;      // white values
constexpr uint32_t EDITOR_GOOD = 0x00FF00;       // a level with a winning plan
constexpr uint32_t EDITOR_BAD = 0x0000FF;        // a level without one
constexpr uint32_t EDITOR_CURSOR = 0x00FFFF;     // the cell under the pointer or the keys
constexpr int32_t EDITOR_VERDICT_BUDGET_MS = 8;  // of a 20 ms frame, for the checker
constexpr uint32_t EDITOR_SAY_MS = 4000;         // how long a status line stays

enum class Tool { PAINT, LINE, RECTANGLE, OUTLINE, FILL };
enum class Mode { EDITING, STORY, HELP, QUIT_ASK, RECOVERY_ASK, SAVE_ASK, PAD_MENU };

// Scan codes the editor reads beyond the game's own keys.
constexpr int32_t KEY_1 = 0x02;
constexpr int32_t KEY_LSHIFT = 0x2A;
constexpr int32_t KEY_RSHIFT = 0x36;
constexpr int32_t KEY_LALT = 0x38;
constexpr int32_t KEY_F1 = 0x3B;
constexpr int32_t KEY_PAGE_UP = 0xC9;
constexpr int32_t KEY_PAGE_DOWN = 0xD1;
constexpr int32_t KEY_INSERT = 0xD2;
constexpr int32_t KEY_CODES = 256;

// Letter keys by set-1 code.
constexpr int32_t KEY_B = 0x30, KEY_C = 0x2E, KEY_D = 0x20, KEY_E = 0x12, KEY_G = 0x22,
                  KEY_H = 0x23, KEY_I = 0x17, KEY_K = 0x25, KEY_L = 0x26, KEY_N = 0x31,
                  KEY_O = 0x18, KEY_P = 0x19, KEY_S = 0x1F, KEY_T = 0x14, KEY_U = 0x16,
                  KEY_V = 0x2F, KEY_W = 0x11, KEY_X = 0x2D, KEY_Y = 0x15, KEY_Z = 0x2C;

// What a key types in a story line: plain and with Shift.
struct TypedKey {
  int32_t code;
  char plain;
  char shifted;
};
constexpr TypedKey TYPED_KEYS[] = {
    {0x02, '1', '!'}, {0x03, '2', '"'}, {0x04, '3', '#'},  {0x05, '4', '$'}, {0x06, '5', '%'},
    {0x07, '6', '^'}, {0x08, '7', '&'}, {0x09, '8', '*'},  {0x0A, '9', '('}, {0x0B, '0', ')'},
    {0x0C, '-', '_'}, {0x0D, '=', '+'}, {0x10, 'Q', 'Q'},  {0x11, 'W', 'W'}, {0x12, 'E', 'E'},
    {0x13, 'R', 'R'}, {0x14, 'T', 'T'}, {0x15, 'Y', 'Y'},  {0x16, 'U', 'U'}, {0x17, 'I', 'I'},
    {0x18, 'O', 'O'}, {0x19, 'P', 'P'}, {0x1E, 'A', 'A'},  {0x1F, 'S', 'S'}, {0x20, 'D', 'D'},
    {0x21, 'F', 'F'}, {0x22, 'G', 'G'}, {0x23, 'H', 'H'},  {0x24, 'J', 'J'}, {0x25, 'K', 'K'},
    {0x26, 'L', 'L'}, {0x27, ';', ':'}, {0x28, '\'', '"'}, {0x29, '`', '~'}, {0x2C, 'Z', 'Z'},
    {0x2D, 'X', 'X'}, {0x2E, 'C', 'C'}, {0x2F, 'V', 'V'},  {0x30, 'B', 'B'}, {0x31, 'N', 'N'},
    {0x32, 'M', 'M'}, {0x33, ',', '<'}, {0x34, '.', '>'},  {0x35, '/', '?'}, {0x39, ' ', ' '},
};

// The story colours Tab goes through, as the stream stores them (0x00BBGGRR).
constexpr uint32_t STORY_COLOURS[] = {0xFFFFFF, 0x0000FF, 0x00FF00, 0xFFFF00,
                                      0x00FFFF, 0xFF00FF, 0xC0C0C0, 0xFF8000};

const char* const HELP_LINES[] = {
    "F1  THIS HELP (ANY KEY OR PAD BUTTON CLOSES IT)",
    "LEFT BUTTON / SPACE  PAINT     RIGHT / DELETE  FLOOR",
    "1-6  FLOOR, LEAK, WALL, FIXED WALL, FAST, SLOW",
    "P PAINT  L LINE  R RECTANGLE  O OUTLINE  F FILL",
    "X  MIRROR: NONE, LEFT-RIGHT, TOP-BOTTOM, BOTH",
    "ARROWS  MOVE THE CELL CURSOR",
    "CTRL+ARROW  GROW THAT SIDE   +SHIFT  SHRINK IT",
    "B / E / H  BARRIERS / RATE / THRESHOLD UP (SHIFT: DOWN)",
    "PAGE UP / DOWN  LEVEL   ALT+PAGE UP / DOWN  MOVE IT",
    "INSERT OR CTRL+N NEW  CTRL+D DUPLICATE  CTRL+DELETE REMOVE",
    "I INTRO  S STORY AFTER THE LEVEL  G FINAL BLOCK",
    "T TEST-PLAY  SHIFT+T FROM ITS STORY  V SHOW THE PLAN",
    "K KEEP A WON TEST-PLAY OR SHOWN PLAN AS PROOF",
    "CTRL+U PUBLISH TO THE HUB (EVERY LEVEL WITH A PROOF)",
    "CTRL+Z UNDO  CTRL+Y REDO  CTRL+S SAVE",
    "CTRL+C COPY AS CODE  CTRL+V OPEN A CODE",
    "ESCAPE  QUIT (TWICE WITH UNSAVED CHANGES)",
    "PAD: D-PAD / STICK MOVE  A PAINT  B OR X FLOOR  Y TOOL",
    "PAD: LB / RB PALETTE  BACK AS ESCAPE  START THE MENU:",
    "  UP / DOWN CHOOSE, A DOES IT, LEFT / RIGHT CHANGE IT",
    "PAD LINES AND RECTANGLES: HOLD A AND MOVE, OR A, MOVE, A",
};

// A key the pad's menu stands for, with the modifiers held with it; code 0 is none.
struct PadKey {
  int32_t code;
  int32_t with;
  int32_t also;
};

// What a line of the pad's menu shows beside its label.
enum class PadValue { NONE, BARRIERS, RATE, THRESHOLD, SIZE, MIRROR, LEVEL };

// One line of the pad's menu: what A does on it, or d-pad left and right; closes: the menu
// makes way for what A starts.
struct PadMenuItem {
  const char* label;
  PadKey a;
  PadKey left;
  PadKey right;
  bool closes;
  PadValue value;
};

constexpr int32_t KEY_LCTRL = KEY_LCONTROL;

// Every operation of the editor's keys but typing a story, in the order a level is made.
constexpr PadMenuItem PAD_MENU[] = {
    {"TEST-PLAY", {KEY_T, 0, 0}, {}, {}, true, PadValue::NONE},
    {"TEST-PLAY FROM ITS STORY", {KEY_T, KEY_LSHIFT, 0}, {}, {}, true, PadValue::NONE},
    {"SHOW THE PLAN", {KEY_V, 0, 0}, {}, {}, true, PadValue::NONE},
    {"UNDO", {KEY_Z, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"REDO", {KEY_Y, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"SAVE", {KEY_S, KEY_LCTRL, 0}, {}, {}, true, PadValue::NONE},
    {"BARRIERS", {}, {KEY_B, KEY_LSHIFT, 0}, {KEY_B, 0, 0}, false, PadValue::BARRIERS},
    {"RATE", {}, {KEY_E, KEY_LSHIFT, 0}, {KEY_E, 0, 0}, false, PadValue::RATE},
    {"THRESHOLD", {}, {KEY_H, KEY_LSHIFT, 0}, {KEY_H, 0, 0}, false, PadValue::THRESHOLD},
    {"LEFT SIDE",
     {},
     {KEY_LEFT, KEY_LCTRL, KEY_LSHIFT},
     {KEY_LEFT, KEY_LCTRL, 0},
     false,
     PadValue::SIZE},
    {"RIGHT SIDE",
     {},
     {KEY_RIGHT, KEY_LCTRL, KEY_LSHIFT},
     {KEY_RIGHT, KEY_LCTRL, 0},
     false,
     PadValue::SIZE},
    {"TOP SIDE",
     {},
     {KEY_UP, KEY_LCTRL, KEY_LSHIFT},
     {KEY_UP, KEY_LCTRL, 0},
     false,
     PadValue::SIZE},
    {"BOTTOM SIDE",
     {},
     {KEY_DOWN, KEY_LCTRL, KEY_LSHIFT},
     {KEY_DOWN, KEY_LCTRL, 0},
     false,
     PadValue::SIZE},
    {"MIRROR", {KEY_X, 0, 0}, {KEY_X, 0, 0}, {KEY_X, 0, 0}, false, PadValue::MIRROR},
    {"LEVEL", {}, {KEY_PAGE_UP, 0, 0}, {KEY_PAGE_DOWN, 0, 0}, false, PadValue::LEVEL},
    {"MOVE THE LEVEL",
     {},
     {KEY_PAGE_UP, KEY_LALT, 0},
     {KEY_PAGE_DOWN, KEY_LALT, 0},
     false,
     PadValue::LEVEL},
    {"NEW LEVEL", {KEY_INSERT, 0, 0}, {}, {}, false, PadValue::NONE},
    {"DUPLICATE THE LEVEL", {KEY_D, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"REMOVE THE LEVEL", {KEY_DELETE, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"KEEP A WON TEST-PLAY AS PROOF", {KEY_K, 0, 0}, {}, {}, false, PadValue::NONE},
    {"PUBLISH TO THE HUB", {KEY_U, KEY_LCTRL, 0}, {}, {}, true, PadValue::NONE},
    {"COPY AS CODE", {KEY_C, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"OPEN A CODE", {KEY_V, KEY_LCTRL, 0}, {}, {}, false, PadValue::NONE},
    {"HELP", {KEY_F1, 0, 0}, {}, {}, true, PadValue::NONE},
    {"QUIT", {KEY_ESCAPE, 0, 0}, {}, {}, true, PadValue::NONE},
};
constexpr size_t PAD_MENU_ITEMS = std::size(PAD_MENU);
static_assert(PAD_MENU_ITEMS >= 16, "the menu scrolls by its shown lines");

struct EditorState {
  EditSession session;                   // the pack and its history
  Mode mode = Mode::EDITING;             // what the keys do now
  Tool tool = Tool::PAINT;               // what the left button and Space do
  char letter = 'W';                     // what is painted
  EditMirror mirror = EditMirror::NONE;  // where paints also go
  EditCell cursor{0, 0};                 // the cell under the pointer or moved to with the keys
  bool pointer_on_board = false;         // the pointer is over the board
  int32_t button = 0;                    // button held on the board (1 left, 2 right), 0 = none
  EditCell anchor{0, 0};                 // where a line or rectangle began
  bool anchored = false;                 // a line or rectangle is being drawn with the keys
  EditCell last_painted{0, 0};           // where the drag painted last
  const PlayerInput* input = nullptr;    // the frame's input (inside editor_frame)
  Session preview;                       // the level being edited, alone, as the game shows it
  View picture;                          // the picture every session of the editor shares
  int32_t sound_ok = 0;                  // the sound device's verdict, for test-plays
  uint64_t preview_revision = ~0ull;     // the session revision preview was made at
  int32_t preview_level = -1;            // and its level
  LevelReport verdict;                   // the verdict as far as it is known
  bool verdict_known = false;            // verdict is the whole verdict on the level as it is
  LevelCheckJob exact;                   // the exact search on the level as it is, begun when
                                         // the verdict is known, dropped when the level changes
  bool exact_known = false;              // exact.report is the search's whole answer
  std::string said;                      // the status line
  uint32_t said_at = 0;                  // when it was said
  EditBlock block = EditBlock::INTRO;    // the story block being edited
  size_t story_line = 0;                 // its line being edited (its size: a new line)
  std::string typed;                     // that line's text as typed so far
  uint32_t typed_colour = 0xFFFFFF;      // and its colour
  std::string recovery;                  // the recovery copy offered
  std::string save_why;                  // SAVE_ASK: why the file was not simply replaced
  std::string their_text;                // SAVE_ASK: what another program wrote, if readable
  bool their_text_known = false;         // their_text holds it
  Replay proof;                          // the last winning test-play (or plan shown)
  bool has_proof = false;                // proof holds one
  bool plan_shown = false;               // a plan is being shown: its run is the next proof
  Replay plan;                           // that plan's run
  std::map<int32_t, Replay> proofs;      // kept proofs by level number, from 1
  std::vector<Replay> publishing;        // PUBLISH: one proof per level, in order
  bool publish_asked = false;            // a button outside the picture asked to publish
  bool publish_waiting = false;          // PUBLISH asked, the hub's answer not come yet
  PadCursor pad;                         // the game pad's cell cursor on the board
  uint32_t pad_before = 0;               // the pad's buttons last frame (all, after a resume:
                                         // what is still held from a test-play does nothing)
  int32_t pad_button = 0;                // pad button painting (1 A, 2 B or X), 0 = none
  char pad_letter = 'W';                 // what that button paints
  bool pad_ending = false;               // the press that ended a shape, until it is let go
  uint32_t pad_fresh = 0;                // the pad's buttons pressed in this frame
  size_t menu_item = 0;                  // PAD_MENU: the line chosen
};

EditorState EDITOR;

bool down(int32_t code) { return EDITOR.input->keys_read && EDITOR.input->keys[code] != 0; }
// A key acts when it goes down, so a chord's modifier is still held (a tap is down for a frame).
bool pressed(int32_t code) { return EDITOR.input->keys_read && EDITOR.input->pressed[code] != 0; }
bool ctrl() { return down(KEY_LCONTROL) || down(KEY_RCONTROL); }
bool shift() { return down(KEY_LSHIFT) || down(KEY_RSHIFT); }

void say(const std::string& message) {
  EDITOR.said = message;
  EDITOR.said_at = tick_ms();
}

// Says why an operation did nothing, when the core gave a reason.
void said_by(bool done) {
  if (!done && !EDITOR.session.refusal.empty()) say(EDITOR.session.refusal);
}

const PackLevel& level() { return edit_level(EDITOR.session); }

// The level being edited is played by a session of its own, so the board is drawn exactly as
// the game draws it.
void refresh_preview() {
  const EditSession& session = EDITOR.session;
  if (EDITOR.preview_revision == session.revision && EDITOR.preview_level == session.level) {
    return;
  }
  LevelPack alone;
  alone.intro = session.pack.intro;
  alone.levels = {level()};
  alone.levels[0].story_after.clear();
  alone.final_block = session.pack.final_block;
  EDITOR.preview = session_make(std::make_shared<const LevelStream>(level_pack_compile(alone)),
                                EDITOR.picture, 0, 0);
  Rules& preview = EDITOR.preview.rules;
  preview.game_state = STATE_PLAYING;
  // A leak shows at full strength, as it looks a moment into the level.
  for (Cell& cell : preview.grid) {
    if (cell.flags & CELL_CHEMICAL) cell.concentration = 0xFFFF;
  }
  EDITOR.preview_revision = session.revision;
  EDITOR.preview_level = session.level;
  EDITOR.verdict_known = false;
  EDITOR.exact = LevelCheckJob{};
  EDITOR.exact_known = false;
  EDITOR.cursor.x = std::min(EDITOR.cursor.x, level().width - 1);
  EDITOR.cursor.y = std::min(EDITOR.cursor.y, level().height - 1);
}

// The checker's verdict, then the exact search, a piece at a time within this frame's budget:
// the search runs in the frames the verdict leaves, so no frame waits for it.
void advance_verdict() {
  if (EDITOR.exact_known) return;
  const uint32_t began = tick_ms();
  if (!EDITOR.verdict_known) {
    while (!edit_verdict_step(EDITOR.session)) {
      if (tick_ms() - began >= EDITOR_VERDICT_BUDGET_MS) return;
    }
    EDITOR.verdict = edit_verdict(EDITOR.session);
    EDITOR.verdict_known = true;
    level_check_begin(EDITOR.exact, *EDITOR.preview.levels, 1, true);
  }
  while (!level_check_step(EDITOR.exact)) {
    if (tick_ms() - began >= EDITOR_VERDICT_BUDGET_MS) return;
  }
  EDITOR.exact_known = true;
}

// --- Painting ---

void paint(const std::vector<EditCell>& cells, char letter) {
  said_by(edit_paint(EDITOR.session, cells, letter, EDITOR.mirror));
}

// What the tool does to the cells from the anchor to the cursor.
std::vector<EditCell> shape_cells() {
  switch (EDITOR.tool) {
    case Tool::LINE:
      return edit_line_cells(EDITOR.anchor, EDITOR.cursor);
    case Tool::RECTANGLE:
    case Tool::OUTLINE:
      return edit_rectangle_cells(EDITOR.anchor, EDITOR.cursor, EDITOR.tool == Tool::RECTANGLE);
    default:
      return {EDITOR.cursor};
  }
}

// A press of the painting button (or Space) on the cursor's cell.
void press(char letter) {
  edit_stroke_begin(EDITOR.session);
  EDITOR.anchor = EDITOR.last_painted = EDITOR.cursor;
  if (EDITOR.tool == Tool::PAINT) paint({EDITOR.cursor}, letter);
  if (EDITOR.tool == Tool::FILL)
    said_by(edit_fill(EDITOR.session, EDITOR.cursor, letter, EDITOR.mirror));
}

// The pointer moved with the button held: a painted drag leaves no gaps.
void drag(char letter) {
  if (EDITOR.tool != Tool::PAINT) return;
  if (EDITOR.last_painted == EDITOR.cursor) return;
  said_by(edit_line(EDITOR.session, EDITOR.last_painted, EDITOR.cursor, letter, EDITOR.mirror));
  EDITOR.last_painted = EDITOR.cursor;
}

void release(char letter) {
  if (EDITOR.tool == Tool::LINE || EDITOR.tool == Tool::RECTANGLE || EDITOR.tool == Tool::OUTLINE) {
    paint(shape_cells(), letter);
  }
  edit_stroke_end(EDITOR.session);
}

void handle_pointer() {
  const int32_t x = EDITOR.input->pointer_x, y = EDITOR.input->pointer_y;
  const PackLevel& edited = level();
  EDITOR.pointer_on_board = x >= EDITOR_BOARD_LEFT && x < EDITOR_BOARD_LEFT + EDITOR_BOARD_SIZE &&
                            y >= 0 && y < EDITOR_BOARD_SIZE;
  if (EDITOR.pointer_on_board) {
    EDITOR.cursor = {edited.width * (x - EDITOR_BOARD_LEFT) / EDITOR_BOARD_SIZE,
                     edited.height * y / EDITOR_BOARD_SIZE};
  }
  const uint8_t buttons = EDITOR.input->buttons;
  const int32_t held = (buttons & 1) ? 1 : (buttons & 2) ? 2 : 0;
  const char letter = EDITOR.button == 2 ? '.' : EDITOR.letter;
  if (EDITOR.button == 0 && held != 0 && EDITOR.pointer_on_board) {
    EDITOR.button = held;
    press(held == 2 ? '.' : EDITOR.letter);
  } else if (EDITOR.button != 0 && held == EDITOR.button) {
    drag(letter);
  } else if (EDITOR.button != 0) {
    release(letter);
    EDITOR.button = 0;
  }
}

// --- Keys ---

void move_cursor(int32_t dx, int32_t dy) {
  const PackLevel& edited = level();
  EDITOR.cursor.x = std::clamp(EDITOR.cursor.x + dx, 0, edited.width - 1);
  EDITOR.cursor.y = std::clamp(EDITOR.cursor.y + dy, 0, edited.height - 1);
}

void change_number(EditNumber number, int64_t step) {
  const int64_t value = edit_number(level(), number);
  said_by(edit_set_number(EDITOR.session, number, value + step));
  // The bounds the checker and the reader hold the number to, beside its new value.
  const char* names[] = {"BARRIERS", "RATE", "THRESHOLD"};
  const EditBounds bounds = edit_number_bounds(number);
  say(std::string(names[static_cast<int>(number)]) + " " +
      std::to_string(edit_number(level(), number)) + " (" + std::to_string(bounds.low) + " TO " +
      std::to_string(bounds.high) + ")");
}

void open_story(EditBlock block) {
  if (block == EditBlock::AFTER_LEVEL &&
      EDITOR.session.level + 1 == static_cast<int32_t>(EDITOR.session.pack.levels.size())) {
    say("THE LAST LEVEL IS FOLLOWED BY THE FINAL BLOCK (G)");
    return;
  }
  EDITOR.mode = Mode::STORY;
  EDITOR.block = block;
  EDITOR.story_line = 0;
  const std::vector<PackLine>& lines = edit_block(EDITOR.session, block);
  EDITOR.typed = lines.empty() ? "" : lines[0].text;
  EDITOR.typed_colour = lines.empty() ? STORY_COLOURS[0] : lines[0].colour;
}

void select_story_line(size_t index) {
  const std::vector<PackLine>& lines = edit_block(EDITOR.session, EDITOR.block);
  EDITOR.story_line = std::min(index, lines.size());
  const bool fresh = EDITOR.story_line == lines.size();
  EDITOR.typed = fresh ? "" : lines[EDITOR.story_line].text;
  EDITOR.typed_colour = fresh ? STORY_COLOURS[0] : lines[EDITOR.story_line].colour;
}

void story_keys() {
  const std::vector<PackLine>& lines = edit_block(EDITOR.session, EDITOR.block);
  if (pressed(KEY_ESCAPE)) {
    EDITOR.mode = Mode::EDITING;
    return;
  }
  if (pressed(KEY_UP) && EDITOR.story_line > 0) select_story_line(EDITOR.story_line - 1);
  if (pressed(KEY_DOWN)) select_story_line(EDITOR.story_line + 1);
  if (pressed(KEY_TAB)) {
    const auto* at =
        std::find(std::begin(STORY_COLOURS), std::end(STORY_COLOURS), EDITOR.typed_colour);
    EDITOR.typed_colour = at == std::end(STORY_COLOURS) || at + 1 == std::end(STORY_COLOURS)
                              ? STORY_COLOURS[0]
                              : *(at + 1);
  }
  if (ctrl() && pressed(KEY_DELETE) && EDITOR.story_line < lines.size()) {
    said_by(edit_delete_line(EDITOR.session, EDITOR.block, EDITOR.story_line));
    select_story_line(EDITOR.story_line);
    return;
  }
  if (pressed(KEY_BACKSPACE) && !EDITOR.typed.empty()) EDITOR.typed.pop_back();
  if (pressed(KEY_RETURN)) {
    const std::string problem = edit_line_problem(EDITOR.block, EDITOR.typed);
    if (!problem.empty()) {
      say(problem);
      return;
    }
    const PackLine line{EDITOR.typed, EDITOR.typed_colour};
    const bool fresh = EDITOR.story_line == lines.size();
    const bool done = fresh
                          ? edit_insert_line(EDITOR.session, EDITOR.block, EDITOR.story_line, line)
                          : edit_set_line(EDITOR.session, EDITOR.block, EDITOR.story_line, line);
    said_by(done);
    if (done) select_story_line(EDITOR.story_line + 1);
    return;
  }
  if (ctrl()) return;
  for (const TypedKey& key : TYPED_KEYS) {
    if (pressed(key.code)) EDITOR.typed += shift() ? key.shifted : key.plain;
  }
}

// Whether every level has a proof that wins it on the pack as it is now (the hub re-runs each
// on the very bytes it is sent, so a proof of an earlier version is of no use); says which level
// lacks one, else keeps the proofs in order for PUBLISH.
bool ready_to_publish() {
  if (EDITOR.publish_waiting) {
    say("STILL PUBLISHING... (ESCAPE GIVES UP)");
    return false;
  }
  const std::string problems = edit_problems(EDITOR.session);
  if (!problems.empty()) {
    say(problems.substr(0, problems.find('\n')));
    return false;
  }
  const LevelStream stream = level_pack_compile(EDITOR.session.pack);
  const int32_t count = static_cast<int32_t>(EDITOR.session.pack.levels.size());
  std::vector<Replay> runs;
  for (int32_t level = 1; level <= count; ++level) {
    const auto kept = EDITOR.proofs.find(level);
    const std::string lacks = "LEVEL " + std::to_string(level) + " LACKS A PROOF";
    const std::string how = ": WIN A TEST-PLAY (T) OR SHOW THE PLAN (V), THEN K";
    if (kept == EDITOR.proofs.end()) {
      say(lacks + how);
      return false;
    }
    const RunOutcome outcome = run_replay(kept->second, stream, RunLimits{});
    const bool won = std::any_of(outcome.levels.begin(), outcome.levels.end(),
                                 [&](const RunLevel& run) { return run.level == level; });
    if (!outcome.matches || !won) {
      say(lacks + " OF THE PACK AS IT IS NOW" + how);
      return false;
    }
    runs.push_back(kept->second);
  }
  EDITOR.publishing = std::move(runs);
  EDITOR.publish_waiting = true;
  say("PUBLISHING...");
  return true;
}

// The keys of the editing mode; what the shell must do, if anything.
EditorAsk editing_keys() {
  EditSession& session = EDITOR.session;
  if (EDITOR.publish_asked) {
    EDITOR.publish_asked = false;
    if (ready_to_publish()) return EditorAsk::PUBLISH;
  }
  if (pressed(KEY_F1)) EDITOR.mode = Mode::HELP;
  // The hub is asked beside the frame; Escape stops waiting for it (its answer is not shown).
  if (EDITOR.publish_waiting && pressed(KEY_ESCAPE)) {
    EDITOR.publish_waiting = false;
    say("NOT PUBLISHED: GIVEN UP WAITING FOR THE HUB");
    return EditorAsk::NOTHING;
  }
  if (pressed(KEY_ESCAPE)) {
    if (!session.changed) return EditorAsk::QUIT;
    EDITOR.mode = Mode::QUIT_ASK;
  }
  if (ctrl()) {
    if (pressed(KEY_Z)) said_by(shift() ? edit_redo(session) : edit_undo(session));
    if (pressed(KEY_Y)) said_by(edit_redo(session));
    if (pressed(KEY_S)) return EditorAsk::SAVE;
    if (pressed(KEY_U)) return ready_to_publish() ? EditorAsk::PUBLISH : EditorAsk::NOTHING;
    if (pressed(KEY_N)) said_by(edit_add_level(session));
    if (pressed(KEY_D)) said_by(edit_duplicate_level(session));
    if (pressed(KEY_DELETE)) said_by(edit_delete_level(session));
    if (pressed(KEY_C)) {
      const std::string code = share_code_encode(edit_text(session));
      clipboard_set_text(code.c_str());
      say("THE PACK IS ON THE CLIPBOARD (A CODE OF " + std::to_string((code.size() + 1023) / 1024) +
          " KB)");
    }
    if (pressed(KEY_V)) {
      EditSession opened;
      std::string problems;
      const std::string code = clipboard_text();
      // A new file nobody has touched yet has nothing to lose to the pack a code holds.
      const bool untouched = session.undo.empty() && session.saved_text.empty();
      if (session.changed && !untouched) {
        say("SAVE FIRST: A CODE REPLACES THE WHOLE PACK");
      } else if (code.empty()) {
        say("THE CLIPBOARD HOLDS NO TEXT THE GAME CAN READ");
      } else if (!edit_open_code(opened, code, problems)) {
        say(problems.substr(0, problems.find('\n')));
      } else {
        // The code's text, comments and all, is what Ctrl+S writes; the file does not hold it.
        session = std::move(opened);
        session.changed = true;
        EDITOR.preview_revision = ~0ull;
        say("OPENED THE CODE: CTRL+S SAVES IT AS THIS FILE");
      }
    }
    const int32_t grow = shift() ? -1 : 1;
    if (pressed(KEY_LEFT)) said_by(edit_resize(session, grow, 0, 0, 0));
    if (pressed(KEY_UP)) said_by(edit_resize(session, 0, grow, 0, 0));
    if (pressed(KEY_RIGHT)) said_by(edit_resize(session, 0, 0, grow, 0));
    if (pressed(KEY_DOWN)) said_by(edit_resize(session, 0, 0, 0, grow));
  } else {
    if (pressed(KEY_LEFT)) move_cursor(-1, 0);
    if (pressed(KEY_RIGHT)) move_cursor(1, 0);
    if (pressed(KEY_UP)) move_cursor(0, -1);
    if (pressed(KEY_DOWN)) move_cursor(0, 1);
    for (int32_t i = 0; i < 6; ++i) {
      if (pressed(KEY_1 + i)) EDITOR.letter = EDIT_MAP_LETTERS[i];
    }
    if (pressed(KEY_P)) EDITOR.tool = Tool::PAINT;
    if (pressed(KEY_L)) EDITOR.tool = Tool::LINE;
    if (pressed(KEY_R)) EDITOR.tool = Tool::RECTANGLE;
    if (pressed(KEY_O)) EDITOR.tool = Tool::OUTLINE;
    if (pressed(KEY_F)) EDITOR.tool = Tool::FILL;
    if (pressed(KEY_X)) {
      EDITOR.mirror = static_cast<EditMirror>((static_cast<int>(EDITOR.mirror) + 1) % 4);
    }
    // Space paints as the left button does: a line or rectangle takes two presses.
    if (pressed(KEY_SPACE)) {
      const bool shaped = EDITOR.tool == Tool::LINE || EDITOR.tool == Tool::RECTANGLE ||
                          EDITOR.tool == Tool::OUTLINE;
      if (shaped && !EDITOR.anchored) {
        EDITOR.anchor = EDITOR.cursor;
        EDITOR.anchored = true;
      } else {
        if (!shaped) press(EDITOR.letter);
        release(EDITOR.letter);
        EDITOR.anchored = false;
      }
    }
    if (pressed(KEY_DELETE)) {
      edit_stroke_begin(session);
      paint({EDITOR.cursor}, '.');
      edit_stroke_end(session);
    }
    const int64_t sign = shift() ? -1 : 1;
    if (pressed(KEY_B)) change_number(EditNumber::BARRIERS, sign);
    if (pressed(KEY_E)) change_number(EditNumber::RATE, sign);
    if (pressed(KEY_H)) change_number(EditNumber::THRESHOLD, sign * 64);
    const int32_t count = static_cast<int32_t>(session.pack.levels.size());
    if (pressed(KEY_PAGE_DOWN) || pressed(KEY_PAGE_UP)) {
      const int32_t to = session.level + (pressed(KEY_PAGE_DOWN) ? 1 : -1);
      if (to >= 0 && to < count) {
        if (down(KEY_LALT)) {
          said_by(edit_move_level(session, to));
        } else {
          edit_select_level(session, to);
        }
      }
    }
    // Insert as well as Ctrl+N: a browser keeps Ctrl+N for a window of its own.
    if (pressed(KEY_INSERT)) said_by(edit_add_level(session));
    if (pressed(KEY_I)) open_story(EditBlock::INTRO);
    if (pressed(KEY_S)) open_story(EditBlock::AFTER_LEVEL);
    if (pressed(KEY_G)) open_story(EditBlock::FINAL);
    if (pressed(KEY_T)) {
      const std::string problems = edit_problems(session);
      if (!problems.empty()) {
        say(problems.substr(0, problems.find('\n')));
      } else {
        return shift() ? EditorAsk::TEST_FROM_STORY : EditorAsk::TEST_PLAY;
      }
    }
    if (pressed(KEY_V)) {
      if (EDITOR.verdict_known && EDITOR.verdict.winnable) return EditorAsk::SHOW_PLAN;
      say(EDITOR.verdict_known ? "THE CHECKER FOUND NO PLAN TO SHOW" : "STILL CHECKING");
    }
    if (pressed(KEY_K)) {
      if (EDITOR.has_proof) {
        EDITOR.proofs[editor_level_number()] = EDITOR.proof;
        return EditorAsk::KEEP_PROOF;
      }
      say("WIN A TEST-PLAY (T) FIRST");
    }
  }
  return EditorAsk::NOTHING;
}

// --- The game pad ---

bool shaped_tool() {
  return EDITOR.tool == Tool::LINE || EDITOR.tool == Tool::RECTANGLE ||
         EDITOR.tool == Tool::OUTLINE;
}

// Presses key for this frame, as if typed, with its modifiers held.
void tap(PlayerInput& input, const PadKey& key) {
  if (key.code == 0) return;
  input.keys_read = 1;
  input.pressed[key.code] = 1;
  input.keys[key.code] = 1;
  if (key.with) input.keys[key.with] = 1;
  if (key.also) input.keys[key.also] = 1;
}

// The pad's buttons in the editing mode that are not painting: the palette, the tools, the
// menu, and Back as Escape.
void pad_editing(PlayerInput& input, uint32_t fresh) {
  const std::string letters = EDIT_MAP_LETTERS;
  const size_t kinds = letters.size();
  const size_t at = letters.find(EDITOR.letter);
  if (fresh & PAD_RIGHT_SHOULDER) EDITOR.letter = letters[(at + 1) % kinds];
  if (fresh & PAD_LEFT_SHOULDER) EDITOR.letter = letters[(at + kinds - 1) % kinds];
  if (fresh & PAD_Y) EDITOR.tool = static_cast<Tool>((static_cast<int>(EDITOR.tool) + 1) % 5);
  if (fresh & PAD_BACK) tap(input, {KEY_ESCAPE, 0, 0});
  if (fresh & PAD_START) {
    EDITOR.mode = Mode::PAD_MENU;
    EDITOR.menu_item = 0;
  }
}

// The menu: up and down choose a line, A does it, left and right change its value, B or Start
// close it (Back too, as Escape closes a panel).
void pad_menu(PlayerInput& input, uint32_t fresh) {
  if (fresh & (PAD_B | PAD_START | PAD_BACK)) {
    EDITOR.mode = Mode::EDITING;
    // The B that closed the menu paints nothing.
    EDITOR.pad_fresh = 0;
    return;
  }
  if (fresh & PAD_UP) EDITOR.menu_item = (EDITOR.menu_item + PAD_MENU_ITEMS - 1) % PAD_MENU_ITEMS;
  if (fresh & PAD_DOWN) EDITOR.menu_item = (EDITOR.menu_item + 1) % PAD_MENU_ITEMS;
  const PadMenuItem& item = PAD_MENU[EDITOR.menu_item];
  if (fresh & PAD_LEFT) tap(input, item.left);
  if (fresh & PAD_RIGHT) tap(input, item.right);
  if ((fresh & PAD_A) && item.a.code != 0) {
    tap(input, item.a);
    if (item.closes) EDITOR.mode = Mode::EDITING;
  }
}

// Turns the pad into what the keys and the pointer of the mode do, before they are read: the
// cursor moves the pointer, the buttons stand for keys.
void pad_steer(PlayerInput& input) {
  const uint32_t held = input.pad.buttons;
  const uint32_t fresh = held & ~EDITOR.pad_before;
  EDITOR.pad_before = held;
  EDITOR.pad_fresh = fresh;
  switch (EDITOR.mode) {
    case Mode::EDITING: {
      // The cursor goes on from the editor's cell, wherever keys or the mouse left it.
      Rules& rules = EDITOR.preview.rules;
      rules.cursor_x = EDITOR.cursor.x;
      rules.cursor_y = EDITOR.cursor.y;
      if (EDITOR.pad.fine_x / PAD_CURSOR_FINE != EDITOR.cursor.x ||
          EDITOR.pad.fine_y / PAD_CURSOR_FINE != EDITOR.cursor.y) {
        EDITOR.pad.fine_x = EDITOR.cursor.x * PAD_CURSOR_FINE + PAD_CURSOR_FINE / 2;
        EDITOR.pad.fine_y = EDITOR.cursor.y * PAD_CURSOR_FINE + PAD_CURSOR_FINE / 2;
      }
      // The pad's cursor moves the pointer; its buttons paint here, not as the mouse's.
      const uint8_t buttons = input.buttons;
      pad_cursor_apply(EDITOR.pad, input, rules);
      input.buttons = buttons;
      pad_editing(input, fresh);
      break;
    }
    case Mode::PAD_MENU:
      pad_menu(input, fresh);
      break;
    case Mode::HELP:
      if (fresh) tap(input, {KEY_SPACE, 0, 0});
      break;
    case Mode::STORY:
      if (fresh & (PAD_B | PAD_BACK)) tap(input, {KEY_ESCAPE, 0, 0});
      break;
    case Mode::QUIT_ASK:
      if (fresh & PAD_BACK) {
        tap(input, {KEY_ESCAPE, 0, 0});
      } else if (fresh & PAD_START) {
        tap(input, {KEY_S, KEY_LCTRL, 0});
      } else if (fresh) {
        tap(input, {KEY_SPACE, 0, 0});
      }
      break;
    case Mode::SAVE_ASK:
      if (fresh & PAD_A) tap(input, {KEY_T, 0, 0});
      if (fresh & PAD_X) tap(input, {KEY_W, 0, 0});
      if (fresh & PAD_Y) tap(input, {KEY_N, 0, 0});
      if (fresh & (PAD_B | PAD_BACK)) tap(input, {KEY_ESCAPE, 0, 0});
      break;
    case Mode::RECOVERY_ASK:
      if (fresh & PAD_A) tap(input, {KEY_RETURN, 0, 0});
      if (fresh & (PAD_B | PAD_BACK)) tap(input, {KEY_ESCAPE, 0, 0});
      break;
  }
}

// A paints with the palette's kind and B or X with floor, as the mouse's buttons do: held and
// moved, a stroke; a line or rectangle from where it was pressed to where it is let go, or, let
// go where it began, to where the next press is.
void pad_paint() {
  const uint32_t held = EDITOR.input->pad.buttons;
  const int32_t now = (held & PAD_A) ? 1 : (held & (PAD_B | PAD_X)) ? 2 : 0;
  if (EDITOR.pad_button == 0) {
    // Only a fresh press paints: a button still held from the menu or a test-play does not.
    const uint32_t fresh = EDITOR.pad_fresh;
    const int32_t pressed_now = (fresh & PAD_A) ? 1 : (fresh & (PAD_B | PAD_X)) ? 2 : 0;
    if (pressed_now == 0 || !EDITOR.pad.on) return;
    EDITOR.pad_button = pressed_now;
    if (EDITOR.anchored && shaped_tool()) {
      release(EDITOR.pad_letter);
      EDITOR.anchored = false;
      EDITOR.pad_ending = true;
      return;
    }
    EDITOR.pad_letter = pressed_now == 2 ? '.' : EDITOR.letter;
    press(EDITOR.pad_letter);
    return;
  }
  if (now == EDITOR.pad_button) {
    if (!EDITOR.pad_ending) drag(EDITOR.pad_letter);
    return;
  }
  EDITOR.pad_button = 0;
  if (EDITOR.pad_ending) {
    EDITOR.pad_ending = false;
    return;
  }
  if (shaped_tool() && EDITOR.cursor == EDITOR.anchor) {
    EDITOR.anchored = true;
    return;
  }
  release(EDITOR.pad_letter);
}

// --- The picture ---

void text(int32_t x, int32_t y, const std::string& line, uint32_t colour) {
  draw_text(x, y, line.c_str(), colour);
}

// How a palette letter looks, as a small swatch.
void swatch(int32_t x, int32_t y, char letter) {
  const int32_t size = 22;
  switch (letter) {
    case 'I':
      draw_box(x, y, size, size, EDITOR.picture.chemical_palette[255]);
      if (EDITOR.picture.marked_cells) {
        board_view_chemical_dots(EDITOR.picture.chemical_palette[255], x, y, size, size);
      }
      break;
    case 'W':
      draw_box(x, y, size, size, 0x909090);
      break;
    case 'D':
      draw_box(x, y, size, size, 0x606060);
      draw_set_mode(DRAW_TRANSPARENT | DRAW_OUTLINED);
      draw_box(x + 3, y + 3, size - 6, size - 6, 0xA0A0A0);
      draw_set_mode(DRAW_TRANSPARENT);
      break;
    case 'N':
      draw_circle(x + size / 2, y + size / 2, size / 2 - 2, 0xFF4040);
      if (EDITOR.picture.marked_cells)
        board_view_disc_mark(x + size / 2, y + size / 2, size / 2 - 2, size, 1);
      break;
    case 'T':
      draw_circle(x + size / 2, y + size / 2, size / 2 - 2, 0x00E0E0);
      if (EDITOR.picture.marked_cells)
        board_view_disc_mark(x + size / 2, y + size / 2, size / 2 - 2, size, 0);
      break;
    default:
      draw_set_mode(DRAW_TRANSPARENT | DRAW_OUTLINED);
      draw_box(x, y, size, size, 0x404040);
      draw_set_mode(DRAW_TRANSPARENT);
      break;
  }
}

const char* tool_name() {
  switch (EDITOR.tool) {
    case Tool::LINE:
      return "LINE";
    case Tool::RECTANGLE:
      return "RECTANGLE";
    case Tool::OUTLINE:
      return "OUTLINE";
    case Tool::FILL:
      return "FILL";
    default:
      return "PAINT";
  }
}

const char* mirror_name() {
  switch (EDITOR.mirror) {
    case EditMirror::LEFT_RIGHT:
      return "MIRROR |";
    case EditMirror::TOP_BOTTOM:
      return "MIRROR -";
    case EditMirror::BOTH:
      return "MIRROR +";
    default:
      return "NO MIRROR";
  }
}

void draw_left_column() {
  draw_box(0, 0, EDITOR_BOARD_LEFT, SCREEN_HEIGHT, 0);
  for (int32_t i = 0; i < 6; ++i) {
    const int32_t y = 10 + i * 34;
    const char letter = EDIT_MAP_LETTERS[i];
    text(6, y + 3, std::string(1, static_cast<char>('1' + i)), EDITOR_TEXT);
    swatch(30, y, letter);
    if (letter == EDITOR.letter) {
      draw_set_mode(DRAW_TRANSPARENT | DRAW_OUTLINED);
      draw_box(27, y - 3, 28, 28, EDITOR_VALUE);
      draw_set_mode(DRAW_TRANSPARENT);
    }
  }
  text(6, 220, tool_name(), EDITOR_VALUE);
  text(6, 240, mirror_name(), EDITOR_TEXT);
  text(6, 280, "X " + std::to_string(EDITOR.cursor.x), EDITOR_TEXT);
  text(6, 298, "Y " + std::to_string(EDITOR.cursor.y), EDITOR_TEXT);
  text(6, 440, EDITOR.session.changed ? "CHANGED" : "SAVED", EDITOR_TEXT);
  text(6, 458, "F1 HELP", EDITOR_TEXT);
}

// One item of the right column: its label, and its value under it.
int32_t item(int32_t y, const char* label, const std::string& value, uint32_t colour) {
  const int32_t x = SCREEN_WIDTH - EDITOR_BOARD_LEFT + 6;
  text(x, y, label, EDITOR_TEXT);
  text(x, y + 16, value, colour);
  return y + 38;
}

void draw_right_column() {
  draw_box(SCREEN_WIDTH - EDITOR_BOARD_LEFT, 0, EDITOR_BOARD_LEFT, SCREEN_HEIGHT, 0);
  const PackLevel& edited = level();
  const EditSession& session = EDITOR.session;
  int32_t y = 6;
  y = item(y, "LEVEL",
           std::to_string(session.level + 1) + "/" + std::to_string(session.pack.levels.size()),
           EDITOR_VALUE);
  y = item(y, "SIZE", std::to_string(edited.width) + "x" + std::to_string(edited.height),
           EDITOR_VALUE);
  y = item(y, "BAR", std::to_string(edited.barriers), EDITOR_VALUE);
  y = item(y, "RATE", std::to_string(edited.rate), EDITOR_VALUE);
  y = item(y, "THR", std::to_string(edited.threshold), EDITOR_VALUE);
  y += 8;
  const LevelReport& verdict = EDITOR.verdict;
  if (!EDITOR.verdict_known) {
    item(y, "VERDICT", "...", EDITOR_TEXT);
    return;
  }
  auto number = [](int32_t value, const char* none) {
    return value < 0 ? std::string(none) : std::to_string(value);
  };
  y = item(y, "EDGE", number(verdict.edge_frame, "NEVER"), EDITOR_VALUE);
  y = item(y, "CUT", number(verdict.enclosure_cells, "NONE"), EDITOR_VALUE);
  y = item(y, "BEST", number(verdict.best_score_bound, "-"), EDITOR_VALUE);
  if (verdict.winnable) {
    y = item(y, "PAR", std::to_string(verdict.plan_score), EDITOR_GOOD);
  } else {
    y = item(y, "PAR", "NO PLAN", EDITOR_BAD);
  }
  // The best possible score once the exact search has proven it, else how far it has got.
  const LevelReport& exact = EDITOR.exact.report;
  if (!EDITOR.exact_known) {
    item(y, "EXACT", "...", EDITOR_TEXT);
  } else if (exact.best_proven) {
    item(y, "PROVEN", number(exact.best_score, "NO WIN"),
         exact.best_score < 0 ? EDITOR_BAD : EDITOR_GOOD);
  } else {
    item(y, "EXACT", number(exact.best_score, "-") + "-" + number(exact.best_score_bound, "-"),
         EDITOR_VALUE);
  }
}

// The cursor, and the shape a line or rectangle will take.
void draw_cursor() {
  const PackLevel& edited = level();
  std::vector<EditCell> cells = {EDITOR.cursor};
  if (EDITOR.button != 0 || EDITOR.pad_button != 0 || EDITOR.anchored) cells = shape_cells();
  draw_set_mode(DRAW_TRANSPARENT | DRAW_OUTLINED);
  for (const EditCell& cell :
       edit_mirror_cells(cells, edited.width, edited.height, EDITOR.mirror)) {
    const int32_t left = EDITOR_BOARD_LEFT + EDITOR_BOARD_SIZE * cell.x / edited.width;
    const int32_t top = EDITOR_BOARD_SIZE * cell.y / edited.height;
    const int32_t right = EDITOR_BOARD_LEFT + EDITOR_BOARD_SIZE * (cell.x + 1) / edited.width;
    const int32_t bottom = EDITOR_BOARD_SIZE * (cell.y + 1) / edited.height;
    draw_box(left, top, right - left, bottom - top, EDITOR_CURSOR);
  }
  draw_set_mode(DRAW_TRANSPARENT);
}

// A panel of lines over the board, row pixels apart from top down.
void draw_panel(std::vector<std::pair<std::string, uint32_t>> lines, size_t marked,
                int32_t row = 22, int32_t top = 40) {
  // A line wider than the panel goes on at the next one, split where a word ends (a long reason
  // in the save question must be read whole).
  const int32_t room = EDITOR_BOARD_SIZE + 120;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string whole = lines[i].first;
    if (text_width(whole.c_str()) <= room) continue;
    size_t cut = whole.size();
    while (cut > 0 && text_width(whole.substr(0, cut).c_str()) > room) {
      const size_t space = whole.rfind(' ', cut - 1);
      cut = space == std::string::npos || space == 0 ? 0 : space;
    }
    if (cut == 0) continue;  // one word wider than the panel: nothing better to be done
    lines[i].first = whole.substr(0, cut);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                 {whole.substr(cut + 1), lines[i].second});
    if (marked != SIZE_MAX && marked > i) ++marked;
  }
  draw_box(EDITOR_BOARD_LEFT - 70, top - 10, EDITOR_BOARD_SIZE + 140,
           row * static_cast<int32_t>(lines.size()) + 20, 0x202020);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int32_t y = top + row * static_cast<int32_t>(i);
    if (i == marked)
      draw_box(EDITOR_BOARD_LEFT - 66, y - 2, EDITOR_BOARD_SIZE + 132, row - 2, 0x404040);
    text(EDITOR_BOARD_LEFT - 60, y, lines[i].first, lines[i].second);
  }
}

// What a line of the pad's menu changes, as it is now.
std::string pad_menu_value(size_t index) {
  const PackLevel& edited = level();
  switch (PAD_MENU[index].value) {
    case PadValue::BARRIERS:
      return std::to_string(edited.barriers);
    case PadValue::RATE:
      return std::to_string(edited.rate);
    case PadValue::THRESHOLD:
      return std::to_string(edited.threshold);
    case PadValue::SIZE:
      return std::to_string(edited.width) + "x" + std::to_string(edited.height);
    case PadValue::MIRROR:
      return mirror_name();
    case PadValue::LEVEL:
      return std::to_string(EDITOR.session.level + 1) + "/" +
             std::to_string(EDITOR.session.pack.levels.size());
    case PadValue::NONE:
      break;
  }
  return "";
}

// The pad's menu, as many lines as fit, scrolled to keep the chosen one in the middle.
void draw_pad_menu() {
  constexpr size_t SHOWN = 16;
  const size_t first = std::min(EDITOR.menu_item > SHOWN / 2 ? EDITOR.menu_item - SHOWN / 2 : 0,
                                PAD_MENU_ITEMS - SHOWN);
  std::vector<std::pair<std::string, uint32_t>> lines = {
      {"UP/DOWN CHOOSE  A DO  LEFT/RIGHT LESS/MORE  B CLOSE", EDITOR_TEXT}};
  for (size_t i = first; i < first + SHOWN; ++i) {
    const std::string value = pad_menu_value(i);
    const bool more =
        (i == first && first > 0) || (i + 1 == first + SHOWN && i + 1 < PAD_MENU_ITEMS);
    lines.push_back({std::string(PAD_MENU[i].label) +
                         (value.empty() ? "" : "   < " + value + " >") + (more ? "   ..." : ""),
                     EDITOR_VALUE});
  }
  draw_panel(lines, EDITOR.menu_item - first + 1);
}

void draw_story() {
  const std::vector<PackLine>& lines = edit_block(EDITOR.session, EDITOR.block);
  const char* names[] = {"INTRO", "STORY AFTER THIS LEVEL", "FINAL"};
  std::vector<std::pair<std::string, uint32_t>> shown = {
      {std::string(names[static_cast<int>(EDITOR.block)]) +
           ": UP/DOWN, TYPE, ENTER, TAB COLOUR, ESC",
       EDITOR_TEXT}};
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i == EDITOR.story_line) {
      shown.push_back({EDITOR.typed + "_", EDITOR.typed_colour});
    } else if (i < lines.size()) {
      shown.push_back({lines[i].text, lines[i].colour});
    } else {
      shown.push_back({"(NEW LINE)", 0x606060});
    }
  }
  draw_panel(shown, EDITOR.story_line + 1);
}

void draw_editor() {
  draw_board_view(EDITOR.preview);
  draw_set_font(EDITOR.picture.hud_font);
  draw_set_mode(DRAW_TRANSPARENT);
  draw_left_column();
  draw_right_column();
  if (EDITOR.mode == Mode::EDITING) draw_cursor();
  if (EDITOR.mode == Mode::STORY) draw_story();
  if (EDITOR.mode == Mode::PAD_MENU) draw_pad_menu();
  if (EDITOR.mode == Mode::HELP) {
    std::vector<std::pair<std::string, uint32_t>> lines;
    for (const char* line : HELP_LINES) lines.push_back({line, EDITOR_VALUE});
    draw_panel(lines, SIZE_MAX, 20, 30);
  }
  if (EDITOR.mode == Mode::QUIT_ASK) {
    draw_panel({{"UNSAVED CHANGES", EDITOR_BAD},
                {"ESCAPE AGAIN QUITS WITHOUT SAVING", EDITOR_VALUE},
                {"CTRL+S SAVES, ANY OTHER KEY GOES BACK", EDITOR_VALUE},
                {"PAD: BACK QUITS, START SAVES, ANY OTHER GOES BACK", EDITOR_VALUE}},
               SIZE_MAX);
  }
  if (EDITOR.mode == Mode::SAVE_ASK) {
    std::vector<std::pair<std::string, uint32_t>> lines = {{EDITOR.save_why, EDITOR_BAD}};
    if (EDITOR.their_text_known) {
      lines.push_back({"T  TAKE THEIRS: OPEN THE FILE AS IT IS NOW", EDITOR_VALUE});
    }
    lines.push_back({"W  KEEP MINE: WRITE IT OVER THE FILE", EDITOR_VALUE});
    lines.push_back({"N  SAVE MINE UNDER A NEW NAME BESIDE IT", EDITOR_VALUE});
    lines.push_back({"ESCAPE  BACK TO EDITING, NOTHING SAVED", EDITOR_VALUE});
    lines.push_back({"PAD: A TAKES THEIRS, X WRITES, Y NEW NAME, B BACK", EDITOR_VALUE});
    draw_panel(lines, SIZE_MAX);
  }
  if (EDITOR.mode == Mode::RECOVERY_ASK) {
    draw_panel({{"A RECOVERY COPY OF UNSAVED WORK EXISTS", EDITOR_VALUE},
                {"ENTER OPENS IT, ESCAPE KEEPS THE FILE", EDITOR_VALUE},
                {"PAD: A OPENS IT, B KEEPS THE FILE", EDITOR_VALUE}},
               SIZE_MAX);
  }
  if (!EDITOR.said.empty() && tick_ms() - EDITOR.said_at < EDITOR_SAY_MS) {
    const int32_t width = text_width(EDITOR.said.c_str());
    draw_box(0, SCREEN_HEIGHT - 22, SCREEN_WIDTH, 22, 0x202020);
    text(std::max(4, (SCREEN_WIDTH - width) / 2), SCREEN_HEIGHT - 20, EDITOR.said, EDITOR_VALUE);
  }
}

// Any key pressed this frame.
bool any_key_pressed() {
  for (int32_t code = 1; code < KEY_CODES; ++code) {
    if (pressed(code)) return true;
  }
  return false;
}

EditorAsk editor_input(const PlayerInput& input);

}  // namespace

void editor_begin(EditSession session, const View& picture, int32_t sound_ok) {
  EDITOR = EditorState{};
  EDITOR.session = std::move(session);
  EDITOR.picture = picture;
  EDITOR.sound_ok = sound_ok;
  refresh_preview();
}

void editor_offer_recovery(const std::string& text) {
  EDITOR.recovery = text;
  EDITOR.mode = Mode::RECOVERY_ASK;
}

EditorAsk editor_frame(const FrameDevice& device, const PlayerInput& input, int32_t frame_tick) {
  PlayerInput steered = input;
  if (input.active) pad_steer(steered);
  EDITOR.input = &steered;
  EditorAsk ask = editor_input(steered);
  EDITOR.input = nullptr;
  EDITOR.preview.view.frame_tick = frame_tick;
  EDITOR.preview.view.windowed = EDITOR.picture.windowed;
  refresh_preview();
  // The pad's cursor is outlined as the keys' cursor is in a game, only while the pad steers.
  Rules& shown = EDITOR.preview.rules;
  EDITOR.preview.view.key_cursor = EDITOR.pad.on && EDITOR.mode == Mode::EDITING ? 1 : 0;
  shown.cursor_x = EDITOR.cursor.x;
  shown.cursor_y = EDITOR.cursor.y;
  shown.cursor_on_board = 1;
  advance_verdict();
  if (device.begin_pass()) {
    draw_editor();
    draw_end();
  }
  device.present();
  return ask;
}

namespace {

EditorAsk editor_input(const PlayerInput& input) {
  const bool closed = input.closed != 0;
  const int32_t active = input.active;
  EditorAsk ask = EditorAsk::NOTHING;
  if (closed && !EDITOR.session.changed) return EditorAsk::QUIT;
  if (closed) EDITOR.mode = Mode::QUIT_ASK;
  switch (EDITOR.mode) {
    case Mode::EDITING:
      if (active) {
        handle_pointer();
        pad_paint();
      }
      ask = editing_keys();
      break;
    case Mode::PAD_MENU:
      // The menu stands for the editing keys: what it pressed is done as they do it.
      ask = editing_keys();
      break;
    case Mode::STORY:
      story_keys();
      break;
    case Mode::HELP:
      if (any_key_pressed()) EDITOR.mode = Mode::EDITING;
      break;
    case Mode::QUIT_ASK:
      if (pressed(KEY_ESCAPE)) return EditorAsk::QUIT;
      if (ctrl() && pressed(KEY_S)) ask = EditorAsk::SAVE;
      if (any_key_pressed() && !ctrl()) EDITOR.mode = Mode::EDITING;
      if (ask == EditorAsk::SAVE) EDITOR.mode = Mode::EDITING;
      break;
    case Mode::SAVE_ASK:
      if (pressed(KEY_ESCAPE)) {
        EDITOR.mode = Mode::EDITING;
        say("NOT SAVED");
      } else if (pressed(KEY_W)) {
        EDITOR.mode = Mode::EDITING;
        ask = EditorAsk::SAVE_OVER;
      } else if (pressed(KEY_N)) {
        EDITOR.mode = Mode::EDITING;
        ask = EditorAsk::SAVE_AS;
      } else if (pressed(KEY_T) && EDITOR.their_text_known) {
        EditSession theirs;
        std::string problems;
        if (edit_open(theirs, EDITOR.their_text, "file", problems)) {
          EDITOR.session = std::move(theirs);
          EDITOR.preview_revision = ~0ull;
          say("OPENED THE FILE AS IT IS NOW");
        } else {
          say(problems.substr(0, problems.find('\n')));
        }
        EDITOR.mode = Mode::EDITING;
      }
      break;
    case Mode::RECOVERY_ASK:
      if (pressed(KEY_RETURN)) {
        std::string problems;
        EditSession recovered;
        if (edit_open(recovered, EDITOR.recovery, "recovery", problems)) {
          // The file on disk is still what was last saved: the recovered work is unsaved.
          EDITOR.session.pack = std::move(recovered.pack);
          EDITOR.session.changed = true;
          EDITOR.session.revision += 1;
          EDITOR.session.state += 1;
          say("RECOVERED: CTRL+S SAVES IT");
        } else {
          say(problems.substr(0, problems.find('\n')));
        }
        EDITOR.mode = Mode::EDITING;
      } else if (pressed(KEY_ESCAPE)) {
        EDITOR.mode = Mode::EDITING;
      }
      break;
  }
  return ask;
}

}  // namespace

void editor_resume(const Replay* won_replay) {
  EDITOR.preview_revision = ~0ull;
  EDITOR.pad_before = ~0u;
  if (won_replay) {
    EDITOR.proof = *won_replay;
    EDITOR.has_proof = true;
    say("WON: K KEEPS THIS RUN AS THE LEVEL'S PROOF");
  } else if (EDITOR.plan_shown) {
    // The checker's plan wins the level as any run would: the author may offer it as proof.
    EDITOR.proof = EDITOR.plan;
    EDITOR.has_proof = true;
    say("K KEEPS THE PLAN'S RUN AS THE LEVEL'S PROOF");
  }
  EDITOR.plan_shown = false;
  refresh_preview();
}

void editor_say(const std::string& message) { say(message); }

void editor_ask_before_saving(const std::string& why, const std::string* their_text) {
  EDITOR.mode = Mode::SAVE_ASK;
  EDITOR.save_why = why;
  EDITOR.their_text_known = their_text != nullptr;
  EDITOR.their_text = their_text ? *their_text : std::string();
}

void editor_saved() {
  edit_mark_saved(EDITOR.session);
  // Work in progress is saved as it is, and said to be so: --levels would refuse it.
  const std::string problems = edit_problems(EDITOR.session);
  say(problems.empty() ? "SAVED"
                       : "SAVED, NOT YET PLAYABLE: " + problems.substr(0, problems.find('\n')));
}

EditSession& editor_session() { return EDITOR.session; }

const LevelReport& editor_verdict() { return EDITOR.verdict; }

bool editor_verdict_known() { return EDITOR.verdict_known; }

const LevelReport* editor_exact() { return EDITOR.exact_known ? &EDITOR.exact.report : nullptr; }

Session& editor_preview() { return EDITOR.preview; }

int32_t editor_level_number() { return EDITOR.session.level + 1; }

const Replay& editor_proof() { return EDITOR.proof; }

const std::string& editor_said() { return EDITOR.said; }

void editor_ask_publish() { EDITOR.publish_asked = true; }

void editor_add_proof(int32_t level, const Replay& run) { EDITOR.proofs[level] = run; }

const std::vector<Replay>& editor_publish_runs() { return EDITOR.publishing; }

void editor_published(const std::string& address, const std::string& error) {
  // An answer given up on is no longer news.
  if (!EDITOR.publish_waiting) return;
  EDITOR.publish_waiting = false;
  if (!error.empty()) {
    say("NOT PUBLISHED: " + error);
    return;
  }
  // The whole address is on the terminal or below the page's picture; the status line shows
  // as much of it as fits, which names the hub and the pack's first digits.
  constexpr size_t FITS = 48;
  say("PUBLISHED: " + (address.size() > FITS ? address.substr(0, FITS - 3) + "..." : address));
}

Session editor_test_play(bool from_story) {
  Session play =
      session_make(std::make_shared<const LevelStream>(level_pack_compile(EDITOR.session.pack)),
                   EDITOR.picture, EDITOR.sound_ok, 1);
  const int32_t level = editor_level_number();
  const long block = level > 1 ? level_block_offset(rules_stream(play.rules), level - 1) : 0;
  if (from_story && block >= 0) {
    play.rules.level_number = level;
    load_level(play.rules, level);
    story_open(play.rules, static_cast<size_t>(block));
  } else {
    session_start_at_level(play, level);
  }
  return play;
}

void editor_plan(Watch& watch) {
  LevelReport report = EDITOR.verdict;
  report.level = editor_level_number();
  auto levels = std::make_shared<const LevelStream>(level_pack_compile(EDITOR.session.pack));
  EDITOR.plan = replay_of_plan(report, levels);
  EDITOR.plan_shown = true;
  replay_watch_begin(watch, EDITOR.plan, levels, EDITOR.picture, EDITOR.sound_ok);
}

void editor_set_windowed(int32_t windowed) { EDITOR.picture.windowed = windowed; }
