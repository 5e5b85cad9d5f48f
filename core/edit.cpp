// The level editor's model. Every change goes through commit(): it swaps a range of levels (and,
// for a story step, the intro and final block) for their new content and keeps what was there as
// the undo step. Undo and redo are the same swap, so they restore exactly what was there.
#include "core/edit.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "core/share_code.h"

namespace {

constexpr int32_t NEW_LEVEL_SIZE = 12;
constexpr int32_t NEW_LEVEL_BARRIERS = 12;   // a 2 x 2 leak needs 8 to be walled in
constexpr int32_t CELL_COORD_LIMIT = 4096;   // a line's ends are kept this far from the level,
                                             // so a stray coordinate gives no endless line
constexpr uint32_t COLOUR_WHITE = 0xFFFFFF;  // 0x00BBGGRR, as PackLine stores it
constexpr uint32_t COLOUR_GREEN = 0x00FF00;
constexpr uint32_t COLOUR_CYAN = 0xFFFF00;
constexpr uint32_t COLOUR_BLACK = 0x000000;

PackLevel new_level() {
  PackLevel level;
  level.width = level.height = NEW_LEVEL_SIZE;
  level.barriers = NEW_LEVEL_BARRIERS;
  level.rows.assign(NEW_LEVEL_SIZE, std::string(NEW_LEVEL_SIZE, '.'));
  for (int32_t y : {NEW_LEVEL_SIZE / 2 - 1, NEW_LEVEL_SIZE / 2}) {
    level.rows[y][NEW_LEVEL_SIZE / 2 - 1] = level.rows[y][NEW_LEVEL_SIZE / 2] = 'I';
  }
  return level;
}

bool has_leak(const PackLevel& level) {
  return std::any_of(level.rows.begin(), level.rows.end(),
                     [](const std::string& row) { return row.find('I') != std::string::npos; });
}

// Level data a step holds, roughly as the heap holds it.
size_t lines_bytes(const std::vector<PackLine>& lines) {
  size_t bytes = 0;
  for (const PackLine& line : lines) bytes += sizeof line + line.text.size();
  return bytes;
}

size_t step_bytes(const EditStep& step) {
  size_t bytes = sizeof step + lines_bytes(step.intro) + lines_bytes(step.final_block);
  for (const PackLevel& level : step.levels) {
    bytes += sizeof level + lines_bytes(level.story_after);
    for (const std::string& row : level.rows) bytes += sizeof row + row.size();
  }
  return bytes;
}

void end_stroke(EditSession& session) {
  session.stroke_open = false;
  session.stroke_has_step = false;
}

// The start of every operation but a paint: it ends a stroke and forgets the last refusal.
void begin_operation(EditSession& session) {
  end_stroke(session);
  session.refusal.clear();
}

// Puts one side of a step in place; returns the step that puts back what was there.
EditStep swap_in(EditSession& session, EditStep step) {
  std::vector<PackLevel>& levels = session.pack.levels;
  EditStep back;
  back.first = step.first;
  back.count = static_cast<int32_t>(step.levels.size());
  const auto begin = levels.begin() + step.first;
  back.levels.assign(std::make_move_iterator(begin), std::make_move_iterator(begin + step.count));
  levels.erase(begin, begin + step.count);
  levels.insert(levels.begin() + step.first, std::make_move_iterator(step.levels.begin()),
                std::make_move_iterator(step.levels.end()));
  if (step.ends) {
    back.ends = true;
    back.intro = std::move(session.pack.intro);
    back.final_block = std::move(session.pack.final_block);
    session.pack.intro = std::move(step.intro);
    session.pack.final_block = std::move(step.final_block);
  }
  back.level = session.level;
  back.state = session.state;
  session.level = step.level;
  session.state = step.state;
  session.changed = session.state != session.saved_state;
  return back;
}

void push(EditSession& session, std::vector<EditStep>& stack, EditStep step) {
  session.history_bytes += step_bytes(step);
  stack.push_back(std::move(step));
}

EditStep pop(EditSession& session, std::vector<EditStep>& stack) {
  EditStep step = std::move(stack.back());
  stack.pop_back();
  session.history_bytes -= step_bytes(step);
  return step;
}

// Forgets the oldest steps while the history holds too many or too much; the latest step is
// always kept, however large.
void trim_history(EditSession& session) {
  while (session.undo.size() + session.redo.size() > 1 &&
         (session.undo.size() + session.redo.size() > EDIT_HISTORY_STEPS_MAX ||
          session.history_bytes > EDIT_HISTORY_BYTES_MAX)) {
    std::vector<EditStep>& stack = session.undo.empty() ? session.redo : session.undo;
    session.history_bytes -= step_bytes(stack.front());
    stack.erase(stack.begin());
  }
}

// One change as one step: levels [first, first + count) become levels, and the intro and final
// block become intro and final_block when given; level index edit_after is edited after it.
void commit(EditSession& session, int32_t first, int32_t count, std::vector<PackLevel> levels,
            int32_t edit_after, const std::vector<PackLine>* intro = nullptr,
            const std::vector<PackLine>* final_block = nullptr) {
  EditStep forward;
  forward.first = first;
  forward.count = count;
  forward.levels = std::move(levels);
  if (intro != nullptr) {
    forward.ends = true;
    forward.intro = *intro;
    forward.final_block = *final_block;
  }
  forward.level = edit_after;
  forward.state = ++session.revision;
  EditStep back = swap_in(session, std::move(forward));
  while (!session.redo.empty()) pop(session, session.redo);
  push(session, session.undo, std::move(back));
  trim_history(session);
}

// The level being edited becomes level; within an open stroke that has its step, the change
// joins that step. False when level is what it was.
bool commit_level(EditSession& session, PackLevel level) {
  PackLevel& current = session.pack.levels[static_cast<size_t>(session.level)];
  if (level == current) return false;
  if (session.stroke_open && session.stroke_has_step) {
    current = std::move(level);
    session.state = ++session.revision;
    session.changed = session.state != session.saved_state;
    return true;
  }
  commit(session, session.level, 1, {std::move(level)}, session.level);
  session.stroke_has_step = session.stroke_open;
  return true;
}

// value kept within slack cells of the largest level.
int32_t near_levels(int32_t value, int32_t slack) {
  return std::clamp(value, -slack, PACK_SIZE_MAX - 1 + slack);
}

bool refuse(EditSession& session, std::string reason) {
  session.refusal = std::move(reason);
  return false;
}

const char* block_name(EditBlock block) {
  switch (block) {
    case EditBlock::INTRO:
      return "the intro";
    case EditBlock::AFTER_LEVEL:
      return "the story after a level";
    case EditBlock::FINAL:
      return "the final block";
  }
  return "";
}

// Why lines cannot be block as a whole ("" when they can), each line being fine on its own.
std::string block_problem(const EditSession& session, EditBlock block,
                          const std::vector<PackLine>& lines) {
  if (block == EditBlock::AFTER_LEVEL && !lines.empty() &&
      session.level + 1 == static_cast<int32_t>(session.pack.levels.size())) {
    return "the final block follows the last level: no story goes after it";
  }
  if (block != EditBlock::AFTER_LEVEL && lines.empty()) {
    return std::string(block_name(block)) + " needs at least one line";
  }
  // A "&" line is replaced by the line after it, so it cannot be the last of its block.
  if (!lines.empty() && lines.back().text[0] == '&') {
    return "a line starting with '&' needs a line after it to take its place";
  }
  if (block == EditBlock::FINAL &&
      std::none_of(lines.begin(), lines.end(),
                   [](const PackLine& line) { return line.text[0] == '~'; })) {
    return "the final block must keep a line starting with '~': it ends the game";
  }
  return "";
}

// Block becomes lines, as one step.
bool change_block(EditSession& session, EditBlock block, std::vector<PackLine> lines) {
  const std::string problem = block_problem(session, block, lines);
  if (!problem.empty()) return refuse(session, problem);
  if (block == EditBlock::AFTER_LEVEL) {
    PackLevel level = edit_level(session);
    level.story_after = std::move(lines);
    return commit_level(session, std::move(level));
  }
  std::vector<PackLine> intro = session.pack.intro;
  std::vector<PackLine> final_block = session.pack.final_block;
  std::vector<PackLine>& target = block == EditBlock::INTRO ? intro : final_block;
  if (target == lines) return false;
  target = std::move(lines);
  commit(session, session.level, 0, {}, session.level, &intro, &final_block);
  return true;
}

// The pack with only the level being edited, between the pack's intro and final block: what its
// verdict checks and what its share code holds.
LevelPack level_alone(const EditSession& session) {
  LevelPack alone;
  alone.intro = session.pack.intro;
  alone.levels = {edit_level(session)};
  alone.levels[0].story_after.clear();
  alone.final_block = session.pack.final_block;
  return alone;
}

// The key a verdict is kept under: everything of the level that level_check reads.
std::string verdict_key(const PackLevel& level) {
  std::string key = std::to_string(level.width) + " " + std::to_string(level.height) + " " +
                    std::to_string(level.barriers) + " " + std::to_string(level.rate) + " " +
                    std::to_string(level.threshold) + "\n";
  for (const std::string& row : level.rows) key += row;
  return key;
}

}  // namespace

LevelPack edit_new_pack() {
  LevelPack pack;
  pack.intro = {{"$A NEW LEAK. WALL IT IN.", COLOUR_WHITE}};
  pack.levels = {new_level()};
  pack.final_block = {
      {"$ALL LEAKS CONTAINED", COLOUR_GREEN},
      {"SCORE: %S", COLOUR_CYAN},
      {"~", COLOUR_BLACK},
  };
  return pack;
}

void edit_start(EditSession& session, LevelPack pack) {
  session = EditSession{};
  session.pack = std::move(pack);
  session.revision = session.state = 1;
  session.changed = true;  // a new file: nothing of it is saved yet
}

bool edit_open(EditSession& session, std::string_view text, const std::string& name,
               std::string& problems) {
  LevelPack pack;
  std::vector<PackProblem> found;
  // The editor opens every pack it writes, levels without a leak too: they are shown with
  // what keeps them from being played (edit_problems).
  if (!level_pack_parse(text, pack, found, true)) {
    problems = level_pack_problems_text(name, found);
    return false;
  }
  problems.clear();
  edit_start(session, std::move(pack));
  session.saved_text = std::string(text);
  session.saved_state = session.state;
  session.changed = false;
  return true;
}

bool edit_open_code(EditSession& session, std::string_view code, std::string& problems) {
  std::string text;
  if (!share_code_decode(code, text, problems)) {
    problems += "\n";
    return false;
  }
  return edit_open(session, text, SHARE_CODE_NAME, problems);
}

std::string edit_share_code(const EditSession& session, bool whole_pack) {
  return share_code_encode(level_pack_format(whole_pack ? session.pack : level_alone(session)));
}

std::string edit_text(const EditSession& session) {
  if (session.state == session.saved_state) return session.saved_text;
  return level_pack_format(session.pack);
}

void edit_mark_saved(EditSession& session) {
  session.saved_text = edit_text(session);
  session.saved_state = session.state;
  session.changed = false;
}

std::string edit_problems(const EditSession& session) {
  std::string problems;
  for (size_t n = 0; n < session.pack.levels.size(); ++n) {
    if (!has_leak(session.pack.levels[n])) {
      problems += "level " + std::to_string(n + 1) +
                  " has no leak (paint an 'I' where the chemical starts)\n";
    }
  }
  if (!problems.empty()) return problems;
  // The operations keep everything else the reader asks for; should one fail to, the reader
  // says so rather than the file it writes.
  LevelPack reread;
  std::vector<PackProblem> found;
  if (!level_pack_parse(level_pack_format(session.pack), reread, found, true)) {
    return level_pack_problems_text("pack", found);
  }
  return "";
}

const PackLevel& edit_level(const EditSession& session) {
  return session.pack.levels[static_cast<size_t>(session.level)];
}

bool edit_select_level(EditSession& session, int32_t index) {
  begin_operation(session);
  if (index < 0 || index >= static_cast<int32_t>(session.pack.levels.size())) return false;
  session.level = index;
  return true;
}

std::vector<EditCell> edit_line_cells(EditCell from, EditCell to) {
  int32_t x = near_levels(from.x, CELL_COORD_LIMIT), y = near_levels(from.y, CELL_COORD_LIMIT);
  const int32_t end_x = near_levels(to.x, CELL_COORD_LIMIT);
  const int32_t end_y = near_levels(to.y, CELL_COORD_LIMIT);
  const int32_t dx = std::abs(end_x - x), step_x = x < end_x ? 1 : -1;
  const int32_t dy = -std::abs(end_y - y), step_y = y < end_y ? 1 : -1;
  std::vector<EditCell> cells;
  for (int32_t error = dx + dy;;) {
    cells.push_back({x, y});
    if (x == end_x && y == end_y) break;
    const int32_t twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += step_x;
    }
    if (twice <= dx) {
      error += dx;
      y += step_y;
    }
  }
  return cells;
}

std::vector<EditCell> edit_rectangle_cells(EditCell corner, EditCell opposite, bool filled) {
  // Cut to one cell beyond the largest level on every side: what lies in a level is the same,
  // outline included, and the list stays small.
  const int32_t left = near_levels(std::min(corner.x, opposite.x), 1);
  const int32_t right = near_levels(std::max(corner.x, opposite.x), 1);
  const int32_t top = near_levels(std::min(corner.y, opposite.y), 1);
  const int32_t bottom = near_levels(std::max(corner.y, opposite.y), 1);
  std::vector<EditCell> cells;
  for (int32_t y = top; y <= bottom; ++y) {
    for (int32_t x = left; x <= right; ++x) {
      if (filled || y == top || y == bottom || x == left || x == right) cells.push_back({x, y});
    }
  }
  return cells;
}

std::vector<EditCell> edit_fill_cells(const PackLevel& level, EditCell start) {
  std::vector<EditCell> cells;
  if (start.x < 0 || start.y < 0 || start.x >= level.width || start.y >= level.height) {
    return cells;
  }
  const char letter = level.rows[start.y][start.x];
  std::vector<char> seen(static_cast<size_t>(level.width) * level.height, 0);
  seen[static_cast<size_t>(start.y) * level.width + start.x] = 1;
  cells.push_back(start);
  for (size_t next = 0; next < cells.size(); ++next) {
    const EditCell cell = cells[next];
    const EditCell near[4] = {
        {cell.x - 1, cell.y}, {cell.x + 1, cell.y}, {cell.x, cell.y - 1}, {cell.x, cell.y + 1}};
    for (const EditCell& n : near) {
      if (n.x < 0 || n.y < 0 || n.x >= level.width || n.y >= level.height) continue;
      char& mark = seen[static_cast<size_t>(n.y) * level.width + n.x];
      if (mark || level.rows[n.y][n.x] != letter) continue;
      mark = 1;
      cells.push_back(n);
    }
  }
  return cells;
}

std::vector<EditCell> edit_mirror_cells(const std::vector<EditCell>& cells, int32_t width,
                                        int32_t height, EditMirror mirror) {
  const bool across = mirror == EditMirror::LEFT_RIGHT || mirror == EditMirror::BOTH;
  const bool down = mirror == EditMirror::TOP_BOTTOM || mirror == EditMirror::BOTH;
  std::vector<char> seen(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0), 0);
  std::vector<EditCell> out;
  const auto add = [&](int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    char& mark = seen[static_cast<size_t>(y) * width + x];
    if (mark) return;
    mark = 1;
    out.push_back({x, y});
  };
  for (const EditCell& cell : cells) {
    const int32_t mirror_x = width - 1 - cell.x, mirror_y = height - 1 - cell.y;
    add(cell.x, cell.y);
    if (across) add(mirror_x, cell.y);
    if (down) add(cell.x, mirror_y);
    if (across && down) add(mirror_x, mirror_y);
  }
  return out;
}

void edit_stroke_begin(EditSession& session) {
  begin_operation(session);
  session.stroke_open = true;
}

void edit_stroke_end(EditSession& session) { end_stroke(session); }

bool edit_paint(EditSession& session, const std::vector<EditCell>& cells, char letter,
                EditMirror mirror) {
  session.refusal.clear();
  if (letter == '\0' || std::string_view(EDIT_MAP_LETTERS).find(letter) == std::string::npos) {
    const bool shown = letter > ' ' && letter < 0x7F;
    return refuse(session, std::string("unknown map letter") +
                               (shown ? std::string(" '") + letter + "'" : std::string()) +
                               " (. I W D N T)");
  }
  PackLevel level = edit_level(session);
  for (const EditCell& cell : edit_mirror_cells(cells, level.width, level.height, mirror)) {
    level.rows[cell.y][cell.x] = letter;
  }
  return commit_level(session, std::move(level));
}

bool edit_line(EditSession& session, EditCell from, EditCell to, char letter, EditMirror mirror) {
  return edit_paint(session, edit_line_cells(from, to), letter, mirror);
}

bool edit_rectangle(EditSession& session, EditCell corner, EditCell opposite, bool filled,
                    char letter, EditMirror mirror) {
  return edit_paint(session, edit_rectangle_cells(corner, opposite, filled), letter, mirror);
}

bool edit_fill(EditSession& session, EditCell start, char letter, EditMirror mirror) {
  return edit_paint(session, edit_fill_cells(edit_level(session), start), letter, mirror);
}

bool edit_resize(EditSession& session, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  begin_operation(session);
  const PackLevel& old = edit_level(session);
  // Each side's count, cut so the size stays within bounds after it.
  const auto cut = [](int32_t& size, int32_t count) {
    const int32_t kept = static_cast<int32_t>(
        std::clamp<int64_t>(count, PACK_SIZE_MIN - size, PACK_SIZE_MAX - size));
    size += kept;
    return kept;
  };
  int32_t width = old.width, height = old.height;
  const int32_t added_left = cut(width, left);
  cut(width, right);
  const int32_t added_top = cut(height, top);
  cut(height, bottom);
  PackLevel level = old;
  level.width = width;
  level.height = height;
  level.rows.assign(static_cast<size_t>(height), std::string(static_cast<size_t>(width), '.'));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int32_t old_x = x - added_left, old_y = y - added_top;
      if (old_x >= 0 && old_y >= 0 && old_x < old.width && old_y < old.height) {
        level.rows[y][x] = old.rows[old_y][old_x];
      }
    }
  }
  return commit_level(session, std::move(level));
}

EditBounds edit_number_bounds(EditNumber number) {
  switch (number) {
    case EditNumber::BARRIERS:
      return {0, PACK_BARRIERS_MAX};
    case EditNumber::RATE:
      return {PACK_RATE_MIN, PACK_RATE_MAX};
    case EditNumber::THRESHOLD:
      return {0, PACK_THRESHOLD_MAX};
  }
  return {0, 0};
}

int32_t edit_number(const PackLevel& level, EditNumber number) {
  switch (number) {
    case EditNumber::BARRIERS:
      return level.barriers;
    case EditNumber::RATE:
      return level.rate;
    case EditNumber::THRESHOLD:
      return level.threshold;
  }
  return 0;
}

bool edit_set_number(EditSession& session, EditNumber number, int64_t value) {
  begin_operation(session);
  const EditBounds bounds = edit_number_bounds(number);
  const int32_t kept = static_cast<int32_t>(std::clamp<int64_t>(value, bounds.low, bounds.high));
  PackLevel level = edit_level(session);
  switch (number) {
    case EditNumber::BARRIERS:
      level.barriers = kept;
      break;
    case EditNumber::RATE:
      level.rate = kept;
      break;
    case EditNumber::THRESHOLD:
      level.threshold = kept;
      break;
  }
  return commit_level(session, std::move(level));
}

const std::vector<PackLine>& edit_block(const EditSession& session, EditBlock block) {
  switch (block) {
    case EditBlock::INTRO:
      return session.pack.intro;
    case EditBlock::AFTER_LEVEL:
      break;
    case EditBlock::FINAL:
      return session.pack.final_block;
  }
  return edit_level(session).story_after;
}

std::string edit_line_problem(EditBlock block, std::string_view text) {
  if (text.empty()) return "an empty line would end the block (write \" \" for a blank line)";
  if (text == "*") return "a line of only '*' would end the block";
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return "story lines hold printable ASCII characters only";
  }
  if (text[0] == '~' && block != EditBlock::FINAL) {
    return "a line starting with '~' ends the game; only the final block may hold one";
  }
  const int32_t width = level_pack_text_width(text);
  if (width > PACK_TEXT_WIDTH_MAX) {
    return "line is too long for the screen (" + std::to_string(width) + " pixels, at most " +
           std::to_string(PACK_TEXT_WIDTH_MAX) + ")";
  }
  return "";
}

bool edit_set_line(EditSession& session, EditBlock block, size_t index, const PackLine& line) {
  begin_operation(session);
  std::vector<PackLine> lines = edit_block(session, block);
  if (index >= lines.size())
    return refuse(session, "no such line in " + std::string(block_name(block)));
  const std::string problem = edit_line_problem(block, line.text);
  if (!problem.empty()) return refuse(session, problem);
  lines[index] = line;
  return change_block(session, block, std::move(lines));
}

bool edit_insert_line(EditSession& session, EditBlock block, size_t index, const PackLine& line) {
  begin_operation(session);
  std::vector<PackLine> lines = edit_block(session, block);
  if (index > lines.size())
    return refuse(session, "no such line in " + std::string(block_name(block)));
  const std::string problem = edit_line_problem(block, line.text);
  if (!problem.empty()) return refuse(session, problem);
  lines.insert(lines.begin() + static_cast<ptrdiff_t>(index), line);
  return change_block(session, block, std::move(lines));
}

bool edit_delete_line(EditSession& session, EditBlock block, size_t index) {
  begin_operation(session);
  std::vector<PackLine> lines = edit_block(session, block);
  if (index >= lines.size())
    return refuse(session, "no such line in " + std::string(block_name(block)));
  lines.erase(lines.begin() + static_cast<ptrdiff_t>(index));
  return change_block(session, block, std::move(lines));
}

bool edit_add_level(EditSession& session) {
  begin_operation(session);
  if (session.pack.levels.size() >= static_cast<size_t>(PACK_LEVELS_MAX)) {
    return refuse(session, "a pack holds at most " + std::to_string(PACK_LEVELS_MAX) + " levels");
  }
  commit(session, session.level + 1, 0, {new_level()}, session.level + 1);
  return true;
}

bool edit_duplicate_level(EditSession& session) {
  begin_operation(session);
  if (session.pack.levels.size() >= static_cast<size_t>(PACK_LEVELS_MAX)) {
    return refuse(session, "a pack holds at most " + std::to_string(PACK_LEVELS_MAX) + " levels");
  }
  PackLevel copy = edit_level(session);
  copy.story_after.clear();
  commit(session, session.level + 1, 0, {std::move(copy)}, session.level + 1);
  return true;
}

bool edit_delete_level(EditSession& session) {
  begin_operation(session);
  const int32_t count = static_cast<int32_t>(session.pack.levels.size());
  if (count == 1) return refuse(session, "a pack keeps at least one level");
  const int32_t index = session.level;
  if (index + 1 == count && !session.pack.levels[index - 1].story_after.empty()) {
    PackLevel new_last = session.pack.levels[index - 1];
    new_last.story_after.clear();
    commit(session, index - 1, 2, {std::move(new_last)}, index - 1);
  } else {
    commit(session, index, 1, {}, std::min(index, count - 2));
  }
  return true;
}

bool edit_move_level(EditSession& session, int32_t to) {
  begin_operation(session);
  const int32_t count = static_cast<int32_t>(session.pack.levels.size());
  const int32_t from = session.level;
  to = std::clamp(to, 0, count - 1);
  if (to == from) return false;
  const int32_t low = std::min(from, to), high = std::max(from, to);
  std::vector<PackLevel> range(session.pack.levels.begin() + low,
                               session.pack.levels.begin() + high + 1);
  if (from < to) {
    std::rotate(range.begin(), range.begin() + 1, range.end());
  } else {
    std::rotate(range.begin(), range.end() - 1, range.end());
  }
  if (high + 1 == count) range.back().story_after.clear();
  commit(session, low, high - low + 1, std::move(range), to);
  return true;
}

bool edit_undo(EditSession& session) {
  begin_operation(session);
  if (session.undo.empty()) return false;
  EditStep step = pop(session, session.undo);
  ++session.revision;
  push(session, session.redo, swap_in(session, std::move(step)));
  trim_history(session);
  return true;
}

bool edit_redo(EditSession& session) {
  begin_operation(session);
  if (session.redo.empty()) return false;
  EditStep step = pop(session, session.redo);
  ++session.revision;
  push(session, session.undo, swap_in(session, std::move(step)));
  trim_history(session);
  return true;
}

bool edit_verdict_step(EditSession& session) {
  const PackLevel& level = edit_level(session);
  if (!has_leak(level)) return true;
  std::string key = verdict_key(level);
  const auto kept = std::find_if(session.verdicts.begin(), session.verdicts.end(),
                                 [&](const EditVerdict& verdict) { return verdict.key == key; });
  if (kept != session.verdicts.end()) {
    std::rotate(kept, kept + 1, session.verdicts.end());  // the most recently used last
    return true;
  }
  if (session.verdict_job_key != key) {
    level_check_begin(session.verdict_job, level_pack_compile(level_alone(session)), 1);
    session.verdict_job_key = key;
  }
  if (!level_check_step(session.verdict_job)) return false;
  session.verdicts.push_back({std::move(key), std::move(session.verdict_job.report)});
  session.verdict_job = LevelCheckJob{};
  session.verdict_job_key.clear();
  ++session.checks_run;
  if (session.verdicts.size() > EDIT_VERDICTS_MAX) session.verdicts.erase(session.verdicts.begin());
  return true;
}

LevelReport edit_verdict(EditSession& session) {
  while (!edit_verdict_step(session)) {
  }
  LevelReport report;
  // A known verdict is the most recently used one, unless the level has no leak.
  if (has_leak(edit_level(session))) report = session.verdicts.back().report;
  report.level = session.level + 1;
  return report;
}
