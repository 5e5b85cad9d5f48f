// The level editor's model: the cells each tool paints, every operation undone and redone
// exactly, the refusals that keep a pack readable, the history's bound, the verdict and its
// cache, share codes and the byte-identical save of a pack opened and not changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/edit.h"
#include "core/level_check.h"
#include "core/level_pack.h"
#include "core/level_stream.h"
#include "core/share_code.h"

namespace {

// Three levels: 5 x 5 (odd), 4 wide and 6 high (even), 4 x 4; a story after the first two.
const std::string PACK_TEXT =
    "q47-level-pack 1\n"
    "intro\n  red \"#HELLO\"\nend\n"
    "level\n  size 5\n  barriers 3\n  map\n"
    "    .....\n    .W...\n    ..I..\n    .....\n    ....D\nend\n"
    "story\n  white \"ONE\"\nend\n"
    "level\n  size 4 6\n  barriers 2\n  map\n"
    "    ....\n    .I..\n    ....\n    ....\n    ....\n    ....\nend\n"
    "story\n  white \"TWO\"\nend\n"
    "level\n  size 4\n  barriers 0\n  map\n    ....\n    .I..\n    ....\n    ....\nend\n"
    "final\n  white \"SCORE %S\"\n  black \"~\"\nend\n";

EditSession opened(const std::string& text = PACK_TEXT) {
  EditSession session;
  std::string problems;
  EXPECT_TRUE(edit_open(session, text, "test", problems)) << problems;
  return session;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

const std::string& builtin_export() {
  static const std::string text = level_pack_format(level_pack_from_stream(level_stream_builtin()));
  return text;
}

// Operations as table rows: each makes the call on the session it is given.
using Apply = std::function<bool(EditSession&)>;
Apply paint(std::vector<EditCell> cells, char letter, EditMirror mirror = EditMirror::NONE) {
  return [=](EditSession& s) { return edit_paint(s, cells, letter, mirror); };
}
Apply set_line(EditBlock block, size_t index, std::string text) {
  return [=](EditSession& s) { return edit_set_line(s, block, index, {text, 0xFFFFFF}); };
}
Apply insert_line(EditBlock block, size_t index, std::string text) {
  return [=](EditSession& s) { return edit_insert_line(s, block, index, {text, 0xFFFFFF}); };
}
Apply delete_line(EditBlock block, size_t index) {
  return [=](EditSession& s) { return edit_delete_line(s, block, index); };
}
Apply resize(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return [=](EditSession& s) { return edit_resize(s, left, top, right, bottom); };
}
Apply set_number(EditNumber number, int64_t value) {
  return [=](EditSession& s) { return edit_set_number(s, number, value); };
}

const std::vector<std::string>& rows(const EditSession& session) {
  return edit_level(session).rows;
}

// What an operation changes, as text: the map of the level being edited, its size and numbers,
// every story block (lines joined by '/', blocks by '|', none as '-'), the levels (size, story)
// and which one is edited.
std::string joined(const std::vector<std::string>& parts, const char* between) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : between) + part;
  return text;
}
std::string map_of(const EditSession& session) { return joined(rows(session), "/"); }
std::string numbers_of(const EditSession& session) {
  const PackLevel& level = edit_level(session);
  return std::to_string(level.width) + "x" + std::to_string(level.height) + " barriers " +
         std::to_string(level.barriers) + " rate " + std::to_string(level.rate) + " threshold " +
         std::to_string(level.threshold);
}
std::string lines_of(const std::vector<PackLine>& lines) {
  std::vector<std::string> texts;
  for (const PackLine& line : lines) texts.push_back(line.text);
  return lines.empty() ? "-" : joined(texts, "/");
}
std::string stories_of(const EditSession& session) {
  std::string text = lines_of(session.pack.intro);
  for (const PackLevel& level : session.pack.levels) text += " | " + lines_of(level.story_after);
  return text + " | " + lines_of(session.pack.final_block);
}
std::string levels_of(const EditSession& session) {
  std::string text;
  for (const PackLevel& level : session.pack.levels) {
    text += std::to_string(level.width) + "x" + std::to_string(level.height);
    text += level.story_after.empty() ? " " : ":" + lines_of(level.story_after) + " ";
  }
  return text + "@" + std::to_string(session.level);
}

}  // namespace

TEST(EditCells, LinesRectanglesFillsAndMirrorsOnOddAndEvenSizes) {
  using Cells = std::vector<EditCell>;
  EXPECT_EQ(edit_line_cells({0, 0}, {5, 2}),
            (Cells{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));
  EXPECT_EQ(edit_line_cells({2, 3}, {2, 0}), (Cells{{2, 3}, {2, 2}, {2, 1}, {2, 0}}));
  EXPECT_EQ(edit_line_cells({0, 0}, {2, 2}), (Cells{{0, 0}, {1, 1}, {2, 2}}));
  EXPECT_EQ(edit_line_cells({4, 4}, {4, 4}), (Cells{{4, 4}}));
  Cells back = edit_line_cells({5, 2}, {0, 0});
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, edit_line_cells({0, 0}, {5, 2}));  // the same cells whichever end comes first
  // A stray coordinate makes a long line, not an endless one.
  EXPECT_LT(edit_line_cells({0, 0}, {INT32_MAX, 0}).size(), 10000u);

  EXPECT_EQ(edit_rectangle_cells({2, 1}, {0, 0}, true).size(), 6u);
  EXPECT_EQ(edit_rectangle_cells({0, 0}, {3, 2}, false).size(), 10u);
  EXPECT_EQ(edit_rectangle_cells({1, 0}, {1, 3}, false).size(), 4u);
  EXPECT_LE(edit_rectangle_cells({INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, true).size(),
            82u * 82u);

  struct MirrorCase {
    Cells cells;
    int32_t width, height;
    EditMirror mirror;
    Cells expected;
  };
  const MirrorCase mirrors[] = {
      {{{1, 2}}, 5, 5, EditMirror::LEFT_RIGHT, {{1, 2}, {3, 2}}},
      {{{2, 0}}, 5, 5, EditMirror::LEFT_RIGHT, {{2, 0}}},  // the middle column is its own mirror
      {{{2, 2}}, 5, 5, EditMirror::BOTH, {{2, 2}}},
      {{{0, 1}}, 5, 5, EditMirror::BOTH, {{0, 1}, {4, 1}, {0, 3}, {4, 3}}},
      {{{1, 1}}, 4, 4, EditMirror::BOTH, {{1, 1}, {2, 1}, {1, 2}, {2, 2}}},
      {{{0, 0}}, 4, 6, EditMirror::TOP_BOTTOM, {{0, 0}, {0, 5}}},
      {{{0, 0}, {3, 0}}, 4, 4, EditMirror::LEFT_RIGHT, {{0, 0}, {3, 0}}},
      {{{9, 9}, {-1, 0}, {1, 1}}, 5, 5, EditMirror::NONE, {{1, 1}}},
  };
  for (const MirrorCase& c : mirrors) {
    EXPECT_EQ(edit_mirror_cells(c.cells, c.width, c.height, c.mirror), c.expected)
        << c.width << "x" << c.height << " mirror " << static_cast<int>(c.mirror);
  }

  const EditSession session = opened();
  EXPECT_EQ(edit_fill_cells(edit_level(session), {0, 0}).size(), 22u);  // all but W, I and D
  EXPECT_EQ(edit_fill_cells(edit_level(session), {1, 1}), (Cells{{1, 1}}));
  EXPECT_TRUE(edit_fill_cells(edit_level(session), {5, 0}).empty());
}

TEST(EditOperations, EachDoesWhatItSaysAndUndoAndRedoRestoreExactly) {
  struct Case {
    const char* name;
    int32_t level;                            // the level edited
    Apply apply;                              // the operation
    std::string (*look)(const EditSession&);  // what it changes, as text
    const char* expected;
  };
  using enum EditBlock;
  using enum EditNumber;
  const EditMirror none = EditMirror::NONE;
  const Case cases[] = {
      {"paint", 0, paint({{0, 0}, {4, 0}}, 'N'), map_of, "N...N/.W.../..I../...../....D"},
      {"line", 0,
       [&](EditSession& s) {
         return edit_line(s, {0, 4}, {3, 3}, 'W', none);
       },
       map_of, "...../.W.../..I../..WW./WW..D"},
      {"filled rectangle", 0,
       [&](EditSession& s) {
         return edit_rectangle(s, {4, 4}, {3, 3}, true, 'T', none);
       },
       map_of, "...../.W.../..I../...TT/...TT"},
      {"outline", 2,
       [&](EditSession& s) {
         return edit_rectangle(s, {0, 0}, {3, 3}, false, 'W', none);
       },
       map_of, "WWWW/WI.W/W..W/WWWW"},
      {"fill", 0,
       [&](EditSession& s) {
         return edit_fill(s, {0, 0}, 'D', none);
       },
       map_of, "DDDDD/DWDDD/DDIDD/DDDDD/DDDDD"},
      {"mirror, odd width", 0, paint({{0, 1}, {2, 0}}, 'W', EditMirror::LEFT_RIGHT), map_of,
       "..W../WW..W/..I../...../....D"},
      {"mirror both, even size", 1, paint({{0, 0}}, 'W', EditMirror::BOTH), map_of,
       "W..W/.I../..../..../..../W..W"},
      {"mirror of a fill", 0,
       [](EditSession& s) {
         return edit_fill(s, {1, 1}, 'T', EditMirror::TOP_BOTTOM);
       },
       map_of, "...../.T.../..I../.T.../....D"},
      {"grow left", 0, resize(1, 0, 0, 0), map_of, "....../..W.../...I../....../.....D"},
      {"grow top", 0, resize(0, 1, 0, 0), map_of, "...../...../.W.../..I../...../....D"},
      {"shrink right, grow bottom", 0, resize(0, 0, -1, 1), map_of,
       "..../.W../..I./..../..../...."},
      {"shrink below 4", 0, resize(-10, 0, 0, -3), map_of, "..../W.../.I../...."},
      {"grow past 80", 2, resize(0, 0, 500, 0), numbers_of,
       "80x4 barriers 0 rate 16 threshold 1024"},
      {"barriers", 0, set_number(BARRIERS, 123456), numbers_of,
       "5x5 barriers 9999 rate 16 threshold 1024"},
      {"rate", 0, set_number(RATE, -3), numbers_of, "5x5 barriers 3 rate 1 threshold 1024"},
      {"threshold", 0, set_number(THRESHOLD, INT64_MAX), numbers_of,
       "5x5 barriers 3 rate 16 threshold 65534"},
      {"set intro line", 0, set_line(INTRO, 0, "NEW"), stories_of,
       "NEW | ONE | TWO | - | SCORE %S/~"},
      {"insert story line", 1, insert_line(AFTER_LEVEL, 1, "NEW"), stories_of,
       "#HELLO | ONE | TWO/NEW | - | SCORE %S/~"},
      {"delete story line", 0, delete_line(AFTER_LEVEL, 0), stories_of,
       "#HELLO | - | TWO | - | SCORE %S/~"},
      {"insert final line", 0, insert_line(FINAL, 2, "NEW"), stories_of,
       "#HELLO | ONE | TWO | - | SCORE %S/~/NEW"},
      {"add level", 0, edit_add_level, levels_of, "5x5:ONE 12x12 4x6:TWO 4x4 @1"},
      {"duplicate level", 1, edit_duplicate_level, levels_of, "5x5:ONE 4x6:TWO 4x6 4x4 @2"},
      {"delete level", 0, edit_delete_level, levels_of, "4x6:TWO 4x4 @0"},
      // The new last level's story goes: the final block follows it.
      {"delete the last level", 2, edit_delete_level, levels_of, "5x5:ONE 4x6 @1"},
      {"move level to the end", 0, [](EditSession& s) { return edit_move_level(s, 2); }, levels_of,
       "4x6:TWO 4x4 5x5 @2"},
      {"move level back", 2, [](EditSession& s) { return edit_move_level(s, 0); }, levels_of,
       "4x4 5x5:ONE 4x6 @0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditSession session = opened();
    ASSERT_TRUE(edit_select_level(session, c.level));
    const LevelPack before = session.pack;
    ASSERT_TRUE(c.apply(session));
    EXPECT_TRUE(session.refusal.empty());
    EXPECT_TRUE(session.changed);
    EXPECT_EQ(c.look(session), c.expected);
    EXPECT_EQ(edit_problems(session), "");  // whatever it did, the pack still reads back
    const LevelPack after = session.pack;
    const int32_t level_after = session.level;
    ASSERT_TRUE(edit_undo(session));
    EXPECT_EQ(session.pack, before);
    EXPECT_EQ(session.level, c.level);
    EXPECT_FALSE(session.changed);
    EXPECT_EQ(edit_text(session), PACK_TEXT);
    ASSERT_TRUE(edit_redo(session));
    EXPECT_EQ(session.pack, after);
    EXPECT_EQ(session.level, level_after);
    EXPECT_FALSE(edit_redo(session));
  }
}

TEST(EditOperations, WhatWouldBreakThePackIsRefusedWithAReason) {
  struct Case {
    const char* name;
    int32_t level;
    Apply apply;
    const char* reason;  // a part of the refusal; "" for an operation that changes nothing
  };
  using enum EditBlock;
  // The widest line of capitals the screen holds, and one letter more.
  std::string widest;
  while (level_pack_text_width(widest + "W") <= PACK_TEXT_WIDTH_MAX) widest += "W";
  const Case cases[] = {
      {"unknown letter", 0, paint({{0, 0}}, 'x'), "unknown map letter 'x'"},
      {"too wide", 0, insert_line(INTRO, 0, widest + "W"), "too long for the screen ("},
      {"'~' in a story", 0, set_line(AFTER_LEVEL, 0, "~BYE"), "only the final block"},
      {"'*'", 0, insert_line(FINAL, 0, "*"), "only '*'"},
      {"empty", 0, set_line(INTRO, 0, ""), "empty line"},
      {"not ASCII", 0, set_line(INTRO, 0, "CAF\xC3\x89"), "printable ASCII"},
      {"'&' last", 0, insert_line(INTRO, 1, "&"), "needs a line after it"},
      {"intro emptied", 0, delete_line(INTRO, 0), "at least one line"},
      {"final's end deleted", 0, delete_line(FINAL, 1), "'~'"},
      {"story after the last level", 2, insert_line(AFTER_LEVEL, 0, "HI"), "follows the last"},
      {"no such line", 0, delete_line(FINAL, 2), "no such line"},
      {"same letter", 0, paint({{1, 1}}, 'W'), ""},
      {"outside", 0, paint({{7, 7}}, 'W'), ""},
      {"same number", 0, set_number(EditNumber::BARRIERS, 3), ""},
      {"shrink at 4", 2, resize(-1, -1, -1, -1), ""},
      {"move nowhere", 1, [](EditSession& s) { return edit_move_level(s, 1); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditSession session = opened();
    edit_select_level(session, c.level);
    EXPECT_FALSE(c.apply(session));
    EXPECT_NE(session.refusal.find(c.reason), std::string::npos) << session.refusal;
    EXPECT_EQ(session.refusal.empty(), c.reason[0] == '\0');
    EXPECT_TRUE(session.undo.empty());  // nothing done is no step
    EXPECT_FALSE(session.changed);
  }
  // The widest line is taken.
  EditSession session = opened();
  EXPECT_TRUE(insert_line(EditBlock::INTRO, 0, widest)(session));

  // One level is kept; 99 are the most.
  session = opened();
  ASSERT_TRUE(edit_delete_level(session) && edit_delete_level(session));
  EXPECT_FALSE(edit_delete_level(session));
  EXPECT_EQ(session.refusal, "a pack keeps at least one level");
  while (edit_duplicate_level(session)) {
  }
  EXPECT_EQ(session.pack.levels.size(), static_cast<size_t>(PACK_LEVELS_MAX));
  EXPECT_FALSE(edit_add_level(session));
  EXPECT_NE(session.refusal.find("at most 99"), std::string::npos);
  EXPECT_EQ(edit_problems(session), "");

  // Painting over the only leak is allowed while editing; the problems say so.
  edit_paint(session, {{1, 1}}, '.', EditMirror::NONE);
  EXPECT_NE(
      edit_problems(session).find("level " + std::to_string(session.level + 1) + " has no leak"),
      std::string::npos);
}

TEST(EditHistory, AStrokeIsOneStepAndTheHistoryIsBounded) {
  EditSession session = opened();
  const LevelPack before = session.pack;
  edit_stroke_begin(session);
  for (int32_t x = 0; x < 5; ++x) edit_paint(session, {{x, 0}}, 'W', EditMirror::TOP_BOTTOM);
  edit_stroke_end(session);
  EXPECT_EQ(rows(session)[4], "WWWWW");
  EXPECT_EQ(session.undo.size(), 1u);
  const LevelPack after = session.pack;
  edit_undo(session);
  EXPECT_EQ(session.pack, before);
  edit_redo(session);
  EXPECT_EQ(session.pack, after);
  // After the stroke ends, the next paint is a step of its own.
  edit_paint(session, {{0, 1}}, 'N', EditMirror::NONE);
  EXPECT_EQ(session.undo.size(), 2u);

  // Steps beyond the bound forget the oldest; what is kept still undoes exactly.
  session = opened();
  std::vector<LevelPack> states = {session.pack};
  for (int32_t n = 0; n < 300; ++n) {
    edit_set_number(session, EditNumber::BARRIERS, n + 10);
    states.push_back(session.pack);
  }
  EXPECT_EQ(session.undo.size(), EDIT_HISTORY_STEPS_MAX);
  for (size_t n = 0; n < EDIT_HISTORY_STEPS_MAX; ++n) edit_undo(session);
  EXPECT_FALSE(edit_undo(session));
  EXPECT_EQ(session.pack, states[300 - EDIT_HISTORY_STEPS_MAX]);
  EXPECT_TRUE(session.changed);

  // Big steps are bounded by their size: moving one of 99 levels of 80 x 80 from first to last
  // holds them all.
  edit_start(session, edit_new_pack());
  edit_resize(session, 34, 34, 34, 34);
  while (edit_duplicate_level(session)) {
  }
  for (int32_t n = 0; n < 20; ++n) {
    edit_select_level(session, 0);
    edit_move_level(session, PACK_LEVELS_MAX - 1);
  }
  EXPECT_LE(session.history_bytes, EDIT_HISTORY_BYTES_MAX);
  EXPECT_LT(session.undo.size(), 20u);
}

TEST(EditVerdict, IsTheCheckersAndNoLevelIsCheckedTwice) {
  // The verdict on a level of a pack is level_check's on that level.
  EditSession session;
  edit_start(session, level_pack_from_stream(level_stream_builtin()));
  edit_select_level(session, 2);
  EXPECT_EQ(level_check_json_object(edit_verdict(session)),
            level_check_json_object(level_check(level_stream_builtin(), 3)));

  edit_start(session, edit_new_pack());
  const LevelReport first = edit_verdict(session);
  EXPECT_TRUE(first.winnable);
  EXPECT_EQ(session.checks_run, 1);
  edit_verdict(session);
  EXPECT_EQ(session.checks_run, 1);
  edit_paint(session, {{0, 0}}, 'W', EditMirror::NONE);
  EXPECT_EQ(edit_verdict(session).best_score_bound, first.best_score_bound + 1);
  EXPECT_EQ(session.checks_run, 2);
  edit_undo(session);
  EXPECT_EQ(level_check_json_object(edit_verdict(session)), level_check_json_object(first));
  EXPECT_EQ(session.checks_run, 2);

  // A piece at a time: a check of content the level no longer holds is dropped, and the
  // verdict is the same as the whole check's. An 80 x 80 level takes many pieces.
  edit_resize(session, 34, 34, 34, 34);
  EXPECT_FALSE(edit_verdict_step(session));
  edit_set_number(session, EditNumber::RATE, 40);
  int32_t pieces = 1;
  while (!edit_verdict_step(session)) ++pieces;
  EXPECT_GT(pieces, 2);
  EXPECT_EQ(session.checks_run, 3);
  const std::string stepped = level_check_json_object(edit_verdict(session));
  session.verdicts.clear();
  EXPECT_EQ(level_check_json_object(edit_verdict(session)), stepped);

  // No leak: nothing to check.
  edit_fill(session, {0, 0}, '.', EditMirror::NONE);
  edit_paint(session, edit_rectangle_cells({0, 0}, {40, 40}, true), '.', EditMirror::NONE);
  const LevelReport none = edit_verdict(session);
  EXPECT_FALSE(none.winnable);
  EXPECT_EQ(none.enclosure_cells, -1);
  EXPECT_EQ(session.checks_run, 4);
}

TEST(EditShareCode, RoundTripsAnyTextInAnyPastedForm) {
  std::string bytes;
  for (int n = 0; n < 1000; ++n) bytes += static_cast<char>(n * 7 % 256);
  const std::string first_shift =
      read_text(std::string(Q47_SOURCE_DIR) + "/levels/first-shift.q47l");
  for (const std::string& text : {builtin_export(), first_shift, level_pack_format(edit_new_pack()),
                                  std::string(), std::string(5000, '.'), bytes}) {
    const std::string code = share_code_encode(text);
    EXPECT_EQ(code.rfind(SHARE_CODE_PREFIX, 0), 0u);
    EXPECT_EQ(code.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_", 6),
              std::string::npos);
    std::string wrapped = "https://example.org/q47" + share_code_fragment(text);
    for (size_t at = wrapped.size() - 1; at > 40; at -= 37) wrapped.insert(at, "\r\n ");
    std::string percent = code;
    percent.replace(5, 1, "%3A");
    for (const std::string& pasted : {code, "  " + code + "\n", wrapped, percent}) {
      std::string decoded, problem;
      ASSERT_TRUE(share_code_decode(pasted, decoded, problem)) << problem;
      EXPECT_EQ(decoded, text);
    }
  }
  // Maps and story lines pack well: the code of the built-in levels is under a third of their
  // text, base64 and all.
  EXPECT_LT(share_code_encode(builtin_export()).size(), builtin_export().size() / 3);
}

TEST(EditShareCode, ABadCodeIsSaidToBeOneAndABadPackIsReadLikeAFile) {
  const std::string code = share_code_encode(PACK_TEXT);
  std::string changed = code;
  changed[code.size() / 2] = changed[code.size() / 2] == 'A' ? 'B' : 'A';
  const std::pair<std::string, const char*> cases[] = {
      {"", "code: empty"},
      {"  \n", "code: empty"},
      {"hello", "code: not a share code of this game (one begins with Q47P1:)"},
      {"Q47P:AAAA", "not a share code"},
      {"Q47P2:AAAA", "code: a version 2 share code; this game reads version 1"},
      {code.substr(0, 20) + "!" + code.substr(20),
       "code: '!' (character 21) is not part of a share code"},
      {code.substr(0, 20) + "\x01", "byte 0x01 (character 21)"},
      {code.substr(0, code.size() - 5), "code: damaged or cut short"},
      {changed, "code: damaged or cut short"},
      {"Q47P1:", "damaged"},
      {"Q47P1:gIDAAgAAAAA", "code: holds 5242880 bytes, more than a pack may (4194304)"},
  };
  for (const auto& [pasted, message] : cases) {
    LevelPack pack;
    std::string problems;
    EXPECT_FALSE(share_code_read(pasted, pack, problems));
    EXPECT_NE(problems.find(message), std::string::npos)
        << "wanted " << message << "\n   got " << problems;
  }
  // The text of a code is read by the files' reader, problems and all.
  std::string bad = PACK_TEXT;
  bad.replace(bad.find("barriers 3"), 10, "barriers x");
  LevelPack pack;
  std::string problems;
  EXPECT_FALSE(share_code_read(share_code_encode(bad), pack, problems));
  EXPECT_EQ(problems, "code:7:12: barriers must be a whole number, not 'x'\n");
  EXPECT_TRUE(share_code_read(code, pack, problems));
  EXPECT_EQ(pack, opened().pack);

  // A session shares its pack or the level being edited, and opens a code as it opens a file.
  EditSession session = opened();
  edit_select_level(session, 1);
  EditSession shared;
  ASSERT_TRUE(edit_open_code(shared, edit_share_code(session, true), problems));
  EXPECT_EQ(shared.pack, session.pack);
  ASSERT_TRUE(edit_open_code(shared, edit_share_code(session, false), problems));
  ASSERT_EQ(shared.pack.levels.size(), 1u);
  EXPECT_EQ(shared.pack.levels[0].rows, session.pack.levels[1].rows);
  EXPECT_EQ(shared.pack.final_block, session.pack.final_block);
  EXPECT_FALSE(edit_open_code(shared, "hello", problems));
  EXPECT_EQ(problems, "code: not a share code of this game (one begins with Q47P1:)\n");
  EXPECT_FALSE(edit_open_code(shared, share_code_encode(bad), problems));
  EXPECT_EQ(problems, "code:7:12: barriers must be a whole number, not 'x'\n");
}

TEST(EditSave, AnOpenedPackIsSavedByteForByteUntilItChanges) {
  // The export of the built-in levels is exactly what the writer makes of it again.
  EditSession session = opened(builtin_export());
  EXPECT_EQ(level_pack_format(session.pack), builtin_export());
  EXPECT_EQ(edit_text(session), builtin_export());

  // A hand-written pack keeps its comments while nothing is changed, undo back included.
  const std::string first_shift =
      read_text(std::string(Q47_SOURCE_DIR) + "/levels/first-shift.q47l");
  session = opened(first_shift);
  EXPECT_NE(level_pack_format(session.pack), first_shift);  // the writer makes its own comments
  EXPECT_EQ(edit_text(session), first_shift);
  const char letter = rows(session)[0][0];
  edit_paint(session, {{0, 0}}, 'W', EditMirror::NONE);
  EXPECT_TRUE(session.changed);
  edit_undo(session);
  EXPECT_FALSE(session.changed);
  EXPECT_EQ(edit_text(session), first_shift);
  // Painted back by hand is a change: the pack is written anew, and reads back the same.
  edit_redo(session);
  edit_paint(session, {{0, 0}}, letter, EditMirror::NONE);
  EXPECT_TRUE(session.changed);
  const std::string written = edit_text(session);
  EXPECT_EQ(opened(written).pack, opened(first_shift).pack);

  // Saved, the pack is unchanged; undo past the save changes it again.
  edit_mark_saved(session);
  EXPECT_FALSE(session.changed);
  EXPECT_EQ(edit_text(session), written);
  edit_undo(session);
  EXPECT_TRUE(session.changed);
  edit_redo(session);
  EXPECT_FALSE(session.changed);

  // A new pack is unsaved, reads back, and plays.
  edit_start(session, edit_new_pack());
  EXPECT_TRUE(session.changed);
  EXPECT_EQ(opened(edit_text(session)).pack, edit_new_pack());
  EXPECT_EQ(edit_problems(session), "");

  std::string problems;
  EXPECT_FALSE(edit_open(session, "q47-level-pack 1\n", "new.q47l", problems));
  EXPECT_EQ(problems.substr(0, 11), "new.q47l:1:");
  EXPECT_EQ(session.pack, edit_new_pack());  // left as it was
}
