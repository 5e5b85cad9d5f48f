// The level editor's model: a level pack being edited, where every change is one step that undo
// takes back and redo makes again, the verdict of the level being edited, and the text to save.
// The editor's picture and input live with the game; they call these functions and draw the
// session's pack. Every operation works on the level being edited (EditSession::level), keeps
// the pack within the format's bounds, and returns true when it changed the pack; one that did
// nothing because it cannot be done says why in EditSession::refusal.
//
// What the pack always keeps, so that its text reads back: 1 to 99 levels of 4 to 80 cells a
// side and numbers within their bounds; story lines the reader accepts; an intro and a final
// block of at least one line, the final one with a line that ends the game; no story after the
// last level. What it may lack while being edited is a leak on every level (edit_problems).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/level_check.h"
#include "core/level_pack.h"

constexpr size_t EDIT_HISTORY_STEPS_MAX = 256;       // undo and redo steps kept, together
constexpr size_t EDIT_HISTORY_BYTES_MAX = 16 << 20;  // level data they hold, at most about
constexpr size_t EDIT_VERDICTS_MAX = 32;             // verdicts kept for levels seen before
constexpr const char* EDIT_MAP_LETTERS = ".IWDNT";   // what a cell can be painted with

// Where a paint also paints: each cell's mirror images across the middle of the level.
enum class EditMirror { NONE, LEFT_RIGHT, TOP_BOTTOM, BOTH };
// A level's numbers, each within its bounds (edit_number_bounds).
enum class EditNumber { BARRIERS, RATE, THRESHOLD };
// A story block: the intro, the block after the level being edited, or the final block.
enum class EditBlock { INTRO, AFTER_LEVEL, FINAL };

// One cell: x across from the left, y down from the top, from 0.
struct EditCell {
  int32_t x;
  int32_t y;
  bool operator==(const EditCell&) const = default;
};

// The smallest and largest value a number may take.
struct EditBounds {
  int32_t low;
  int32_t high;
};

// One step of the history: what to put back to go to the other side of a change. Levels
// [first, first + count) of the pack are replaced by levels; the intro and the final block too
// when ends is set.
struct EditStep {
  int32_t first = 0;                  // the first level the step replaces
  int32_t count = 0;                  // levels it replaces
  std::vector<PackLevel> levels;      // what stands there on the other side
  bool ends = false;                  // the intro and the final block are part of the step
  std::vector<PackLine> intro;        // the intro on the other side, when ends
  std::vector<PackLine> final_block;  // the final block on the other side, when ends
  int32_t level = 0;                  // the level being edited on the other side
  uint64_t state = 0;                 // EditSession::state on the other side
};

// A verdict kept for a level's content.
struct EditVerdict {
  std::string key;     // the level's numbers and map, exactly
  LevelReport report;  // level_check of it, as level 1 of a one-level pack
};

// One pack being edited.
struct EditSession {
  LevelPack pack;                     // what is being edited
  int32_t level = 0;                  // index into pack.levels of the level being edited
  std::vector<EditStep> undo;         // steps back, the latest last
  std::vector<EditStep> redo;         // steps forward again, the next last
  size_t history_bytes = 0;           // level data undo and redo hold together
  bool changed = false;               // the pack differs from the text last opened or saved
  uint64_t revision = 0;              // moves on with every change, undo and redo
  uint64_t state = 0;                 // names the pack's content: a change gives a new name,
                                      // undo and redo go back to the old ones
  uint64_t saved_state = 0;           // the state saved_text holds
  std::string saved_text;             // the text opened or saved, byte for byte
  bool stroke_open = false;           // paints join one step until the stroke ends
  bool stroke_has_step = false;       // the open stroke's step is on top of undo
  std::string refusal;                // why the last operation could not be done, or ""
  std::vector<EditVerdict> verdicts;  // verdicts by content, the most recently used last
  LevelCheckJob verdict_job;          // the check under way, a piece each edit_verdict_step
  std::string verdict_job_key;        // the content it checks; "" when none is under way
  int32_t checks_run = 0;             // checks the verdicts have needed, each run to its end
};

// --- The pack and its text ---

// The pack a new file starts with: an intro line, one 12 x 12 level with a leak in the middle
// and barriers enough to wall it in, and a final block that ends the game.
LevelPack edit_new_pack();
// A fresh session on pack (which the reader accepts), as a new, unsaved file.
void edit_start(EditSession& session, LevelPack pack);
// A fresh session on the pack text holds, read as a file named name is. False with the reader's
// problems ("NAME:LINE:COLUMN: message" lines) when the text is unusable; session is then left
// as it was.
bool edit_open(EditSession& session, std::string_view text, const std::string& name,
               std::string& problems);
// A fresh session on the pack a share code holds (share_code_decode), as edit_open reads a file
// named "code": false with the code's problem or the reader's ("code:LINE:COLUMN: ...").
bool edit_open_code(EditSession& session, std::string_view code, std::string& problems);
// The share code of the whole pack, or of the level being edited alone with the pack's intro and
// final block.
std::string edit_share_code(const EditSession& session, bool whole_pack);
// The text to save: the text opened or last saved, byte for byte, while the pack holds what it
// did then (undo back to it counts); level_pack_format of the pack otherwise.
std::string edit_text(const EditSession& session);
// Notes that edit_text(session) has been written: the pack is no longer changed.
void edit_mark_saved(EditSession& session);
// What keeps the pack from being played, a line per problem ("level 3 has no leak ..."), or ""
// when nothing does.
std::string edit_problems(const EditSession& session);
// The level being edited.
const PackLevel& edit_level(const EditSession& session);
// Makes level index (0-based) the one being edited; not a step. False when there is none such.
bool edit_select_level(EditSession& session, int32_t index);

// --- Cells, as a tool's preview draws them ---

// The cells of a straight line from one cell to another, both included (Bresenham).
std::vector<EditCell> edit_line_cells(EditCell from, EditCell to);
// The cells of the rectangle with these opposite corners: all of them, or its outline.
std::vector<EditCell> edit_rectangle_cells(EditCell corner, EditCell opposite, bool filled);
// The 4-connected region of cells with the same letter as start, in the level; none when start
// is outside it.
std::vector<EditCell> edit_fill_cells(const PackLevel& level, EditCell start);
// The cells of a level of this size, each followed by its mirror images, each cell once, in
// order; cells outside the level are left out.
std::vector<EditCell> edit_mirror_cells(const std::vector<EditCell>& cells, int32_t width,
                                        int32_t height, EditMirror mirror);

// --- Painting ---

// Paints of an open stroke (a drag of the pointer) join one step, so one undo takes the whole
// drag back. Any other operation, undo and redo end the stroke first.
void edit_stroke_begin(EditSession& session);
void edit_stroke_end(EditSession& session);
// Paints cells and their mirrors with letter (one of EDIT_MAP_LETTERS); cells outside the level
// are left out.
bool edit_paint(EditSession& session, const std::vector<EditCell>& cells, char letter,
                EditMirror mirror);
// edit_paint of edit_line_cells(from, to).
bool edit_line(EditSession& session, EditCell from, EditCell to, char letter, EditMirror mirror);
// edit_paint of edit_rectangle_cells(corner, opposite, filled).
bool edit_rectangle(EditSession& session, EditCell corner, EditCell opposite, bool filled,
                    char letter, EditMirror mirror);
// edit_paint of edit_fill_cells(level, start).
bool edit_fill(EditSession& session, EditCell start, char letter, EditMirror mirror);

// --- The level's size and numbers ---

// Adds columns or rows of floor to each side (a negative count takes that many away), sides in
// the order left, top, right, bottom, each count cut so the level stays 4 to 80 cells a side.
bool edit_resize(EditSession& session, int32_t left, int32_t top, int32_t right, int32_t bottom);
// The bounds of a number: the format's, which the reader and the checker hold a pack to.
EditBounds edit_number_bounds(EditNumber number);
// The number of level.
int32_t edit_number(const PackLevel& level, EditNumber number);
// Sets a number of the level, brought within its bounds.
bool edit_set_number(EditSession& session, EditNumber number, int64_t value);

// --- Story lines ---

// The lines of a block (AFTER_LEVEL: after the level being edited; none after the last level).
const std::vector<PackLine>& edit_block(const EditSession& session, EditBlock block);
// Why text cannot be a line of block on its own ("" when it can): empty, "*", characters
// outside printable ASCII, wider than the screen (level_pack_text_width), a '~' outside the
// final block.
std::string edit_line_problem(EditBlock block, std::string_view text);
// Replaces line index of block.
bool edit_set_line(EditSession& session, EditBlock block, size_t index, const PackLine& line);
// Inserts line before line index of block (index = the block's size: at its end).
bool edit_insert_line(EditSession& session, EditBlock block, size_t index, const PackLine& line);
// Deletes line index of block.
bool edit_delete_line(EditSession& session, EditBlock block, size_t index);

// --- Levels ---

// A new level (as in edit_new_pack) after the level being edited, which it becomes.
bool edit_add_level(EditSession& session);
// A copy of the level being edited, without its story, after it; the copy is then edited.
bool edit_duplicate_level(EditSession& session);
// Deletes the level being edited (not the last one left); the next one is then edited. A story
// after the level that becomes the last one goes in the same step: the final block follows it.
bool edit_delete_level(EditSession& session);
// Moves the level being edited, with its story, to index to (0-based), where it stays edited.
// A story after the level that becomes the last one goes in the same step.
bool edit_move_level(EditSession& session, int32_t to);

// --- History ---

// Takes the latest step back / makes the latest step taken back again; false when there is
// none. The level that step was made on becomes the one being edited.
bool edit_undo(EditSession& session);
bool edit_redo(EditSession& session);

// --- The verdict ---

// Moves the verdict on the level being edited on by one piece (level_check_step) of the check
// of a pack holding that level alone, and true once the verdict is known. A check of content
// the level no longer holds is dropped. A level checked before (by its content) is not checked
// again, and one without a leak needs no check. A check of an 80 x 80 level can take most of a
// second, but no piece of it more than a few ms: an editor calls this until its frame's time is
// up and shows the verdict once it is known.
bool edit_verdict_step(EditSession& session);
// The verdict on the level being edited (report.level is its number in the pack), checked to
// its end at once if it is not known. A level without a leak gets an empty report.
LevelReport edit_verdict(EditSession& session);
