// Level packs: the built-in stream exported and read back byte for byte, a pack played through
// the stream readers, every kind of bad pack refused at its line and column, and the file side
// (unreadable files, writes through a temporary name).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/level_pack.h"
#include "core/level_stream.h"
#include "desktop/files.h"
#include "media/file.h"
#include "tests/support/game_state.h"

namespace {

// A small valid pack; the error cases below each change one thing in it.
const std::string GOOD_PACK =
    "q47-level-pack 1\n"              // 1
    "intro\n"                         // 2
    "  red \"#HELLO\"\n"              // 3
    "end\n"                           // 4
    "level\n"                         // 5
    "  size 5 4\n"                    // 6
    "  barriers 3\n"                  // 7
    "  map\n"                         // 8
    "    .....\n"                     // 9
    "    ..I..\n"                     // 10
    "    .W.N.\n"                     // 11
    "    ...T.\n"                     // 12
    "end\n"                           // 13
    "story   # between the levels\n"  // 14
    "  F0A000 \"SAY \\\"HI\\\"\"\n"   // 15
    "end\n"                           // 16
    "level\n"                         // 17
    "  size 4\n"                      // 18
    "  barriers 0\n"                  // 19
    "  rate 20\n"                     // 20
    "  threshold 99\n"                // 21
    "  map\n"                         // 22
    "    ....\n"                      // 23
    "    .ID.\n"                      // 24
    "    ....\n"                      // 25
    "    ....\n"                      // 26
    "end\n"                           // 27
    "final\n"                         // 28
    "  white \"SCORE %S\"\n"          // 29
    "  black \"~\"\n"                 // 30
    "end\n";                          // 31

// GOOD_PACK with the text of line number (1-based) replaced.
std::string with_line(int number, const std::string& replacement) {
  std::string out;
  size_t start = 0;
  for (int line = 1; start < GOOD_PACK.size(); ++line) {
    const size_t end = GOOD_PACK.find('\n', start);
    out += line == number ? replacement : GOOD_PACK.substr(start, end - start);
    out += '\n';
    start = end + 1;
  }
  return out;
}

std::string temp_dir() {
  char pattern[] = "/tmp/q47-pack-XXXXXX";
  return mkdtemp(pattern);
}

}  // namespace

TEST(LevelPack, ExportedBuiltInLevelsReadBackToTheSameStreamByteForByte) {
  const LevelStream builtin = level_stream_builtin();
  const std::string text = level_pack_format(level_pack_from_stream(builtin));
  LevelPack pack;
  std::vector<PackProblem> problems;
  ASSERT_TRUE(level_pack_parse(text, pack, problems))
      << problems.front().line << ":" << problems.front().column << ": "
      << problems.front().message;
  const LevelStream compiled = level_pack_compile(pack);
  ASSERT_EQ(compiled.bytes.size(), LEVEL_STREAM_SIZE);
  EXPECT_EQ(compiled.bytes, builtin.bytes);
  EXPECT_EQ(compiled.records, builtin.records);
  EXPECT_EQ(compiled.blocks, builtin.blocks);
  EXPECT_EQ(compiled.blocks.back(), static_cast<long>(LEVEL_ENTRY_FINAL));
  // The text itself is stable: formatting what was read gives the same text.
  EXPECT_EQ(level_pack_format(pack), text);
}

TEST(LevelPack, AnInstalledPackIsWhatTheReadersAndLoadLevelSee) {
  LevelPack pack;
  std::vector<PackProblem> problems;
  ASSERT_TRUE(level_pack_parse(GOOD_PACK, pack, problems));
  ASSERT_EQ(pack.levels.size(), 2u);
  EXPECT_EQ(pack.levels[0].story_after[0].text, "SAY \"HI\"");
  EXPECT_EQ(pack.levels[0].story_after[0].colour, 0x00A0F0u);  // written RRGGBB, stored BBGGRR
  session_use_stream(level_pack_compile(pack));
  EXPECT_EQ(level_count(session_stream()), 2);
  EXPECT_GE(level_block_offset(session_stream(), 1), 0);
  EXPECT_EQ(level_block_offset(session_stream(), 3), -1);

  session_clear();
  load_level(GAME, 1);
  EXPECT_EQ(GAME.grid_width, 5);
  EXPECT_EQ(GAME.grid_height, 4);
  EXPECT_EQ(GAME.barriers_left, 3);
  EXPECT_EQ(GAME.spread_rate, PACK_DEFAULT_RATE);
  EXPECT_EQ(GAME.at(2, 1).flags, CELL_CHEMICAL);
  EXPECT_EQ(GAME.at(1, 2).flags, CELL_WALL);
  EXPECT_EQ(GAME.at(3, 3).flags, CELL_TETRA);
  load_level(GAME, 2);
  EXPECT_EQ(GAME.spread_rate, 20);
  EXPECT_EQ(GAME.spread_threshold, 99);
  EXPECT_EQ(GAME.at(2, 1).flags, CELL_WALL | CELL_BLOCK);

  // The blocks in play order: intro ending on "*", the story after level 1, the final block.
  GAME.level_data_cursor = LEVEL_ENTRY_INTRO;
  EXPECT_EQ(level_read_string(GAME), "#HELLO");
  EXPECT_EQ(level_read_int(GAME), 0x0000FF);
  EXPECT_EQ(level_read_string(GAME), "*");
  EXPECT_EQ(GAME.level_data_cursor, level_record_offset(session_stream(), 1));
  GAME.level_data_cursor = static_cast<size_t>(level_block_offset(session_stream(), 2));
  EXPECT_EQ(level_read_string(GAME), "SCORE %S");

  session_use_builtin_levels();
  EXPECT_EQ(level_count(session_stream()), LEVEL_BUILTIN_COUNT);
  session_clear();  // a session keeps the levels it was made on: a new one reads the game's
  load_level(GAME, 1);
  EXPECT_EQ(GAME.grid_width, 30);
}

TEST(LevelPack, EachProblemIsReportedAtItsLineAndColumn) {
  struct Case {
    std::string text;
    int line, column;
    const char* message;  // a part of the message
  };
  const std::string long_line(60, 'W');
  const std::vector<Case> cases = {
      {with_line(1, "q47-level-pack 2"), 1, 16, "version 1"},
      {with_line(6, "  size 3 4"), 6, 8, "size 3 is out of range (4 to 80)"},
      {with_line(6, "  size 81"), 6, 8, "size 81 is out of range"},
      {with_line(7, "  barriers 10000"), 7, 12, "barriers 10000 is out of range"},
      {with_line(7, "  barriers -1"), 7, 12, "barriers -1 is out of range"},
      {with_line(20, "  rate 0"), 20, 8, "rate 0 is out of range (1 to 65535)"},
      {with_line(21, "  threshold 65535"), 21, 13, "threshold 65535 is out of range (0 to 65534)"},
      {with_line(21, "  threshold many"), 21, 13, "must be a whole number"},
      {with_line(10, "    ..I."), 10, 5, "map row has 4 cells, the level is 5 wide"},
      {with_line(11, "    .W.X."), 11, 8, "unknown map letter 'X'"},
      {with_line(11, "    .w.N."), 11, 6, "unknown map letter 'w'"},
      {with_line(12, ""), 13, 1, "map has 3 rows, the level is 4 high"},
      {with_line(24, "    ..D."), 22, 1, "level has no chemical"},
      {with_line(20, "  size 5"), 20, 3, "'size' given twice (first on line 18)"},
      {with_line(20, "  speed 3"), 20, 3, "unknown word 'speed'"},
      {with_line(15, "  orange \"SAY\""), 15, 3, "expected a colour name or RRGGBB"},
      {with_line(15, "  white SAY"), 15, 9, "in double quotes"},
      {with_line(15, "  white \"SAY"), 15, 9, "no closing"},
      {with_line(15, "  white \"SAY \\n\""), 15, 14, "unknown escape"},
      {with_line(15, "  white \"\""), 15, 9, "empty line would end the block"},
      {with_line(15, "  white \"*\""), 15, 9, "'*' would end the block"},
      {with_line(15, "  white \"" + long_line + "\""), 15, 9, "too long for the screen"},
      {with_line(15, "  white \"CAF\xC3\x89\""), 15, 13, "printable ASCII"},
      {with_line(15, "  white \"&\""), 15, 1, "'&' needs a line after it"},
      {with_line(30, "  black \"BYE\""), 28, 1, "never ends the game"},
      {with_line(2, "level"), 2, 1, "missing 'intro' block"},
      {with_line(14, "level"), 14, 1, "level has no 'size'"},
      {GOOD_PACK.substr(0, GOOD_PACK.find("end\nfinal")), 17, 1, "'level' block has no 'end'"},
      {with_line(17, "story"), 17, 1, "'story' block must follow a level"},
      {GOOD_PACK.substr(0, GOOD_PACK.find("final")), 27, 4, "missing 'final' block"},
      {GOOD_PACK + "level\n", 32, 1, "after the 'final' block"},
      {with_line(3, "  red \"#HELLO\" extra"), 3, 16, "unexpected 'extra'"},
      {with_line(5, "levels"), 5, 1, "expected a block"},
      {with_line(3, ""), 2, 1, "'intro' block has no lines"},
      {with_line(5, "intro"), 5, 1, "second 'intro' block"},
      {GOOD_PACK + "final\n  black \"~\"\nend\n", 32, 1, "after the 'final' block"},
      // Binary files: said to be no text where it shows, before any line end is judged.
      {with_line(2, std::string("in\0tro\r", 7)), 2, 3, "not a text file (a NUL byte)"},
      {"\x89PNG\r\n\x1a\n" + GOOD_PACK, 1, 1, "not a text file (not UTF-8)"},
      {"q47-level-pack 1 # \xC3(\n" + GOOD_PACK.substr(17), 1, 20, "not a text file (not UTF-8)"},
  };
  for (const Case& c : cases) {
    LevelPack pack;
    std::vector<PackProblem> problems;
    EXPECT_FALSE(level_pack_parse(c.text, pack, problems)) << c.message;
    ASSERT_FALSE(problems.empty()) << c.message;
    const PackProblem& first = problems.front();
    EXPECT_TRUE(first.line == c.line && first.column == c.column &&
                first.message.find(c.message) != std::string::npos)
        << "wanted " << c.line << ":" << c.column << ": ..." << c.message << "...\n   got "
        << first.line << ":" << first.column << ": " << first.message;
  }  // A comment in UTF-8 is text, and so is one in another encoding past the first bytes.
  for (const std::string& text : {with_line(1, "q47-level-pack 1 # CAF\xC3\x89"),
                                  with_line(14, "story # " + std::string(300, '-') + " CAF\xC9")}) {
    LevelPack pack;
    std::vector<PackProblem> problems;
    EXPECT_TRUE(level_pack_parse(text, pack, problems)) << level_pack_problems_text("p", problems);
  }
}

TEST(LevelPack, EveryProblemIsFoundUpToTheLimitAndTooManyLevelsAreRefused) {
  // Three independent problems in different blocks: all three are reported, in text order.
  std::string text = with_line(7, "  barriers 99999");
  text.replace(text.find("    ...T."), 9, "    ...Q.");
  text.replace(text.find("  rate 20"), 9, "  rate -5");
  LevelPack pack;
  std::vector<PackProblem> problems;
  ASSERT_FALSE(level_pack_parse(text, pack, problems));
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].line, 7);
  EXPECT_EQ(problems[1].line, 12);
  EXPECT_EQ(problems[2].line, 20);

  // A file of nothing but problems stops after the limit (one more marks that others follow).
  std::string noise = "q47-level-pack 1\n";
  for (int i = 0; i < 100; ++i) noise += "nonsense\n";
  ASSERT_FALSE(level_pack_parse(noise, pack, problems));
  EXPECT_EQ(problems.size(), static_cast<size_t>(PACK_PROBLEMS_MAX) + 1);

  // The 100th level is one too many.
  std::string levels = GOOD_PACK.substr(0, GOOD_PACK.find("story"));
  const std::string one_level = GOOD_PACK.substr(
      GOOD_PACK.find("level\n"), GOOD_PACK.find("story") - GOOD_PACK.find("level\n"));
  for (int i = 1; i < PACK_LEVELS_MAX; ++i) levels += one_level;
  const std::string ending = GOOD_PACK.substr(GOOD_PACK.find("final"));
  EXPECT_TRUE(level_pack_parse(levels + ending, pack, problems));
  EXPECT_EQ(pack.levels.size(), static_cast<size_t>(PACK_LEVELS_MAX));
  ASSERT_FALSE(level_pack_parse(levels + one_level + ending, pack, problems));
  EXPECT_NE(problems.front().message.find("too many levels"), std::string::npos);
}

TEST(LevelPack, TextWidthTakesOffCuesAndFitsEveryBuiltInLine) {
  EXPECT_EQ(level_pack_text_width("#$%AB"), level_pack_text_width("AB"));
  EXPECT_EQ(level_pack_text_width("&ANYTHING"), 0);
  // "%S" becomes the score, up to ten digits; a "%" in front is the cue, not the score.
  EXPECT_EQ(level_pack_text_width("A%S"),
            level_pack_text_width("A") + 10 * level_pack_text_width("0"));
  EXPECT_EQ(level_pack_text_width("%S"), level_pack_text_width("S"));
  EXPECT_GT(level_pack_text_width("WWWW"), level_pack_text_width("IIII"));
  const LevelPack builtin = level_pack_from_stream(level_stream_builtin());
  int32_t widest = 0;
  for (const PackLine& line : builtin.intro)
    widest = std::max(widest, level_pack_text_width(line.text));
  EXPECT_LE(widest, PACK_TEXT_WIDTH_MAX);
  EXPECT_GT(widest, PACK_TEXT_WIDTH_MAX * 3 / 4);  // the intro's longest line nearly fills it
}

TEST(LevelPackFile, UnreadableFilesAndWritesThroughATemporaryName) {
  const std::string dir = temp_dir();
  LevelPack pack;
  std::string error;
  EXPECT_FALSE(files_read_pack(dir + "/missing.q47l", pack, error));
  EXPECT_EQ(error, "q47: " + dir + "/missing.q47l: No such file or directory\n");
  EXPECT_FALSE(files_read_pack(dir, pack, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos);

  const std::string path = dir + "/pack.q47l";
  ASSERT_TRUE(file_write_atomic(path, GOOD_PACK, error)) << error;
  ASSERT_TRUE(files_read_pack(path, pack, error)) << error;
  EXPECT_EQ(pack.levels.size(), 2u);
  // Replaced whole, and no temporary file left beside it.
  ASSERT_TRUE(file_write_atomic(path, with_line(7, "  barriers 12345"), error));
  EXPECT_FALSE(files_read_pack(path, pack, error));
  EXPECT_EQ(error.rfind(path + ":7:12: barriers 12345 is out of range", 0), 0u) << error;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            1);
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IRUSR, 0u);

  EXPECT_FALSE(file_write_atomic(dir + "/no/such/dir/pack.q47l", GOOD_PACK, error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos);
  std::filesystem::remove_all(dir);
}
