// Level packs: reading and checking the text, compiling it into a level stream, and writing the
// built-in stream back out as text.
#include "core/level_pack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/bytes.h"
#include "core/parse.h"

namespace {

constexpr const char* PACK_HEADER = "q47-level-pack";
constexpr int32_t PACK_VERSION = 1;

// Advance widths in pixels of the characters from ' ' to '~' at the game's 14-point size: for
// each, the wider of the two faces the game ends up drawing with on our machines (the Arial
// metrics of Liberation Sans, and DejaVu Sans, the default sans-serif). Kerning only narrows a
// line, so their sum is an upper bound of what the screen shows.
constexpr int32_t PACK_GLYPH_WIDTHS[95] = {
    6,  8,  9,  16, 12, 18, 15, 5,  7,  7,  10, 16, 6,  7,  6,  7,  12, 12, 12, 12, 12, 12, 12, 12,
    12, 12, 6,  6,  16, 16, 16, 11, 19, 13, 13, 14, 15, 13, 12, 15, 14, 6,  10, 13, 11, 16, 14, 15,
    13, 15, 14, 13, 13, 14, 13, 19, 13, 13, 13, 7,  7,  7,  16, 12, 10, 12, 12, 10, 12, 12, 8,  12,
    12, 5,  6,  11, 5,  19, 12, 12, 12, 12, 8,  10, 7,  12, 11, 16, 11, 11, 10, 12, 6,  12, 16,
};
constexpr int32_t PACK_SCORE_DIGITS = 10;  // the widest score "%S" can become: an int32

// The colours with names, as the stream stores them (0x00BBGGRR).
struct NamedColour {
  const char* name;
  uint32_t stored;
};
constexpr NamedColour PACK_COLOURS[] = {
    {"red", 0x0000FF},    {"white", 0xFFFFFF}, {"green", 0x00FF00}, {"blue", 0xF0A000},
    {"yellow", 0x00F0F0}, {"cyan", 0xFFFF00},  {"black", 0x000000}, {"dark-grey", 0x404040},
};

// One word of a line: a bare word or a quoted string (its text with escapes resolved).
struct Token {
  std::string text;
  int32_t column;  // 1-based column of its first character
  bool quoted;
};

// The block being read.
enum class Block { NONE, INTRO, LEVEL, STORY, FINAL };

// Parser state: where it is in the pack and what it has collected.
struct Reader {
  Reader(LevelPack& pack_out, std::vector<PackProblem>& problems_out)
      : pack(pack_out), problems(problems_out) {}
  LevelPack& pack;
  std::vector<PackProblem>& problems;
  bool for_editing = false;                // a level without a leak is read as it is
  int32_t line_number = 0;                 // line being read
  bool header_seen = false;                // the first line named the format
  Block block = Block::NONE;               // block open at this line
  int32_t block_line = 0;                  // line its keyword was on
  std::vector<PackLine>* lines = nullptr;  // story lines go here while a story block is open
  std::vector<int32_t> line_numbers;       // source line of each of those story lines
  std::vector<PackLine> misplaced;         // lines of a story block in the wrong place
  int32_t entries = 0;                     // lines the open block has, good or bad
  bool intro_seen = false;
  bool final_seen = false;
  Block last_closed = Block::NONE;  // the previous block, for the order rules
  int32_t last_closed_line = 0;     // its keyword's line
  // Level being read.
  std::optional<int32_t> size_line, barriers_line, rate_line, threshold_line;
  bool size_ok = false;  // size was valid, so rows can be measured against it
  bool in_map = false;
  int32_t map_line = 0;
  bool level_has_chemical = false;

  void problem(int32_t line, int32_t column, std::string message) {
    if (problems.size() <= static_cast<size_t>(PACK_PROBLEMS_MAX)) {
      problems.push_back({line, column, std::move(message)});
    }
  }
  bool full() const { return problems.size() > static_cast<size_t>(PACK_PROBLEMS_MAX); }
};

// A word as a message shows it: quoted, and cut short when it is too long for a line of its own.
std::string quote(std::string_view word) {
  constexpr size_t QUOTE_MAX = 40;  // characters of a word a message repeats
  if (word.size() <= QUOTE_MAX) return "'" + std::string(word) + "'";
  return "'" + std::string(word.substr(0, QUOTE_MAX)) + "...' (" + std::to_string(word.size()) +
         " characters)";
}

// Splits one line into tokens; a "#" outside quotes starts a comment. Characters outside
// printable ASCII are problems except inside comments, which may hold any UTF-8.
std::vector<Token> tokenize(Reader& reader, std::string_view line) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    const int32_t column = static_cast<int32_t>(i) + 1;
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string text;
      size_t j = i + 1;
      bool closed = false;
      while (j < line.size()) {
        const unsigned char d = static_cast<unsigned char>(line[j]);
        if (d == '"') {
          closed = true;
          ++j;
          break;
        }
        if (d == '\\') {
          if (j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\')) {
            text += line[j + 1];
            j += 2;
            continue;
          }
          reader.problem(reader.line_number, static_cast<int32_t>(j) + 1,
                         "unknown escape in a quoted line (only \\\" and \\\\)");
          ++j;
          continue;
        }
        if (d < 0x20 || d > 0x7E) {
          reader.problem(reader.line_number, static_cast<int32_t>(j) + 1,
                         "story lines hold printable ASCII characters only");
        } else {
          text += static_cast<char>(d);
        }
        ++j;
      }
      if (!closed) reader.problem(reader.line_number, column, "quoted line has no closing '\"'");
      tokens.push_back({std::move(text), column, true});
      i = j;
    } else {
      size_t j = i;
      std::string word;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '#' &&
             line[j] != '"') {
        const unsigned char d = static_cast<unsigned char>(line[j]);
        if (d < 0x20 || d > 0x7E) {
          reader.problem(reader.line_number, static_cast<int32_t>(j) + 1,
                         "character outside printable ASCII (allowed only in comments)");
        } else {
          word += static_cast<char>(d);
        }
        ++j;
      }
      if (j == i) ++j;  // a stray control byte alone: already reported
      if (!word.empty()) tokens.push_back({std::move(word), column, false});
      i = j;
    }
  }
  return tokens;
}

// A whole decimal number within low..high, or a problem at the token.
std::optional<int32_t> number_in(Reader& reader, const Token& token, const char* what, int64_t low,
                                 int64_t high) {
  const std::string& text = token.text;
  int64_t value = 0;
  const ParseInt parsed = token.quoted ? ParseInt::NOT_A_NUMBER : parse_int(text, low, high, value);
  if (parsed == ParseInt::NOT_A_NUMBER) {
    reader.problem(reader.line_number, token.column,
                   std::string(what) + " must be a whole number, not " + quote(text));
    return std::nullopt;
  }
  if (parsed == ParseInt::OUT_OF_RANGE) {
    reader.problem(reader.line_number, token.column,
                   std::string(what) + " " + text + " is out of range (" + std::to_string(low) +
                       " to " + std::to_string(high) + ")");
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

std::optional<uint32_t> colour_of(std::string_view word) {
  for (const NamedColour& colour : PACK_COLOURS) {
    if (word == colour.name) return colour.stored;
  }
  if (word.size() != 6) return std::nullopt;
  uint32_t rgb = 0;
  for (char c : word) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    rgb = rgb << 4 | static_cast<uint32_t>(digit);
  }
  // Written as RRGGBB, stored with red in the low byte.
  return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

std::string colour_name(uint32_t stored) {
  for (const NamedColour& colour : PACK_COLOURS) {
    if (stored == colour.stored) return colour.name;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X", stored & 0xFF, stored >> 8 & 0xFF,
                stored >> 16 & 0xFF);
  return hex;
}

const char* block_word(Block block) {
  switch (block) {
    case Block::INTRO:
      return "intro";
    case Block::LEVEL:
      return "level";
    case Block::STORY:
      return "story";
    case Block::FINAL:
      return "final";
    case Block::NONE:
      break;
  }
  return "";
}

// Checks a closed story-like block's lines as a whole.
void close_story(Reader& reader) {
  const std::vector<PackLine>& lines = *reader.lines;
  if (lines.empty()) {
    if (reader.entries > 0) return;  // its lines were bad, and said so
    reader.problem(reader.block_line, 1,
                   quote(block_word(reader.block)) + " block has no lines (it needs at least one)");
    return;
  }
  // An "&" entry is replaced by the entry after it, so it cannot be the last of its block.
  if (lines.back().text[0] == '&' && reader.line_numbers.size() == lines.size()) {
    reader.problem(reader.line_numbers.back(), 1,
                   "a line starting with '&' needs a line after it to take its place");
  }
  if (reader.block == Block::FINAL) {
    bool ends_game = false;
    for (const PackLine& line : lines) ends_game = ends_game || line.text[0] == '~';
    if (!ends_game) {
      reader.problem(reader.block_line, 1,
                     "'final' block never ends the game (it needs a line starting with '~')");
    }
  }
}

void close_level(Reader& reader) {
  PackLevel& level = reader.pack.levels.back();
  if (!reader.size_line) reader.problem(reader.block_line, 1, "level has no 'size'");
  if (!reader.barriers_line) reader.problem(reader.block_line, 1, "level has no 'barriers'");
  if (!reader.in_map) {
    reader.problem(reader.block_line, 1, "level has no 'map'");
    return;
  }
  if (reader.size_ok && static_cast<int32_t>(level.rows.size()) != level.height) {
    reader.problem(reader.line_number, 1,
                   "map has " + std::to_string(level.rows.size()) + " rows, the level is " +
                       std::to_string(level.height) + " high");
  }
  if (!reader.level_has_chemical && !reader.for_editing) {
    reader.problem(reader.map_line, 1, "level has no chemical (no 'I' in its map)");
  }
}

void open_block(Reader& reader, const Token& word, Block block) {
  // Order: intro first, then levels with at most one story after each, then final, then nothing.
  if (reader.final_seen) {
    reader.problem(reader.line_number, word.column,
                   quote(word.text) + " after the 'final' block, which ends the pack");
  } else if (block == Block::INTRO && reader.intro_seen) {
    reader.problem(reader.line_number, word.column, "second 'intro' block");
  } else if (block != Block::INTRO && !reader.intro_seen) {
    reader.problem(reader.line_number, word.column,
                   "missing 'intro' block: the pack must begin with it");
    reader.intro_seen = true;  // reported once
  } else if ((block == Block::STORY || block == Block::FINAL) && reader.pack.levels.empty()) {
    reader.problem(reader.line_number, word.column,
                   quote(word.text) + " block before the first level");
  } else if (block == Block::STORY && reader.last_closed != Block::LEVEL) {
    reader.problem(reader.line_number, word.column,
                   "'story' block must follow a level (one block between two levels)");
  } else if (block == Block::FINAL && reader.last_closed == Block::STORY) {
    reader.problem(reader.last_closed_line, 1,
                   "'story' block after the last level: the block after it is 'final'");
  }
  if (block == Block::LEVEL && reader.pack.levels.size() >= static_cast<size_t>(PACK_LEVELS_MAX)) {
    reader.problem(
        reader.line_number, word.column,
        "too many levels (a pack holds at most " + std::to_string(PACK_LEVELS_MAX) + ")");
  }
  reader.block = block;
  reader.block_line = reader.line_number;
  reader.line_numbers.clear();
  reader.entries = 0;
  switch (block) {
    case Block::INTRO:
    case Block::FINAL: {
      // A second intro or final block is read into scratch, like a misplaced story.
      bool& seen = block == Block::INTRO ? reader.intro_seen : reader.final_seen;
      std::vector<PackLine>& lines =
          block == Block::INTRO ? reader.pack.intro : reader.pack.final_block;
      reader.lines = seen && !lines.empty() ? &reader.misplaced : &lines;
      reader.lines->clear();
      seen = true;
      break;
    }
    case Block::STORY:
      // A misplaced story is read into a scratch block so its lines are still checked.
      reader.lines = !reader.pack.levels.empty() && reader.last_closed == Block::LEVEL
                         ? &reader.pack.levels.back().story_after
                         : &reader.misplaced;
      reader.lines->clear();
      break;
    case Block::LEVEL:
      reader.pack.levels.emplace_back();
      reader.size_line = reader.barriers_line = reader.rate_line = reader.threshold_line =
          std::nullopt;
      reader.size_ok = false;
      reader.in_map = false;
      reader.level_has_chemical = false;
      break;
    case Block::NONE:
      break;
  }
}

void read_story_line(Reader& reader, const std::vector<Token>& tokens) {
  ++reader.entries;
  const Token& colour_word = tokens[0];
  const std::optional<uint32_t> colour = colour_of(colour_word.text);
  if (colour_word.quoted || !colour) {
    reader.problem(
        reader.line_number, colour_word.column,
        "expected a colour name or RRGGBB before the line, not " + quote(colour_word.text));
    return;
  }
  if (tokens.size() < 2 || !tokens[1].quoted) {
    reader.problem(reader.line_number, tokens.size() < 2 ? colour_word.column : tokens[1].column,
                   "expected the line's text in double quotes after its colour");
    return;
  }
  if (tokens.size() > 2) {
    reader.problem(reader.line_number, tokens[2].column, "unexpected " + quote(tokens[2].text));
  }
  const Token& text = tokens[1];
  if (reader.block != Block::FINAL && !text.text.empty() && text.text[0] == '~') {
    // A "~" ends the game where it is shown: anywhere but the final block it would cut the
    // game short or leave every later level out of reach.
    reader.problem(reader.line_number, text.column + 1,
                   "a line starting with '~' ends the game; only the 'final' block may hold one");
  }
  if (text.text.empty()) {
    reader.problem(reader.line_number, text.column,
                   "empty line would end the block (write \" \" for a blank line)");
    return;
  }
  if (text.text == "*") {
    reader.problem(reader.line_number, text.column, "a line of only '*' would end the block");
    return;
  }
  const int32_t width = level_pack_text_width(text.text);
  if (width > PACK_TEXT_WIDTH_MAX) {
    reader.problem(reader.line_number, text.column,
                   "line is too long for the screen (" + std::to_string(width) +
                       " pixels, at most " + std::to_string(PACK_TEXT_WIDTH_MAX) + ")");
  }
  reader.lines->push_back({text.text, *colour});
  reader.line_numbers.push_back(reader.line_number);
}

void read_map_row(Reader& reader, const std::vector<Token>& tokens) {
  PackLevel& level = reader.pack.levels.back();
  const Token& row = tokens[0];
  if (tokens.size() > 1) {
    reader.problem(reader.line_number, tokens[1].column,
                   "map rows hold no spaces; unexpected " + quote(tokens[1].text));
  }
  for (size_t i = 0; i < row.text.size(); ++i) {
    const char letter = row.text[i];
    if (letter == 'I') reader.level_has_chemical = true;
    if (row.quoted || std::strchr(".IWDNT", letter) == nullptr) {
      reader.problem(reader.line_number, row.column + static_cast<int32_t>(i) + row.quoted,
                     std::string("unknown map letter '") + letter + "' (. I W D N T)");
      break;
    }
  }
  if (reader.size_ok && static_cast<int32_t>(row.text.size()) != level.width) {
    reader.problem(reader.line_number, row.column,
                   "map row has " + std::to_string(row.text.size()) + " cells, the level is " +
                       std::to_string(level.width) + " wide");
  }
  if (reader.size_ok && static_cast<int32_t>(level.rows.size()) == level.height) {
    reader.problem(
        reader.line_number, row.column,
        "map has more rows than the level is high (" + std::to_string(level.height) + ")");
  }
  if (level.rows.size() <= static_cast<size_t>(PACK_SIZE_MAX)) level.rows.push_back(row.text);
}

void read_level_line(Reader& reader, const std::vector<Token>& tokens) {
  PackLevel& level = reader.pack.levels.back();
  if (reader.in_map) {
    read_map_row(reader, tokens);
    return;
  }
  const Token& word = tokens[0];
  const size_t values = tokens.size() - 1;
  auto once = [&](std::optional<int32_t>& seen) {
    if (seen) {
      reader.problem(
          reader.line_number, word.column,
          quote(word.text) + " given twice (first on line " + std::to_string(*seen) + ")");
      return false;
    }
    seen = reader.line_number;
    return true;
  };
  auto arguments = [&](size_t low, size_t high) {
    if (values >= low && values <= high) return true;
    reader.problem(
        reader.line_number, word.column,
        quote(word.text) + (high == 1 ? " takes one number" : " takes one or two numbers"));
    return false;
  };
  if (word.text == "size") {
    if (!once(reader.size_line) || !arguments(1, 2)) return;
    const auto width = number_in(reader, tokens[1], "size", PACK_SIZE_MIN, PACK_SIZE_MAX);
    const auto height =
        values == 2 ? number_in(reader, tokens[2], "size", PACK_SIZE_MIN, PACK_SIZE_MAX) : width;
    if (!width || !height) return;
    reader.size_ok = true;
    level.width = *width;
    level.height = *height;
  } else if (word.text == "barriers") {
    if (!once(reader.barriers_line) || !arguments(1, 1)) return;
    if (auto value = number_in(reader, tokens[1], "barriers", 0, PACK_BARRIERS_MAX)) {
      level.barriers = *value;
    }
  } else if (word.text == "rate") {
    if (!once(reader.rate_line) || !arguments(1, 1)) return;
    if (auto value = number_in(reader, tokens[1], "rate", PACK_RATE_MIN, PACK_RATE_MAX)) {
      level.rate = *value;
    }
  } else if (word.text == "threshold") {
    if (!once(reader.threshold_line) || !arguments(1, 1)) return;
    if (auto value = number_in(reader, tokens[1], "threshold", 0, PACK_THRESHOLD_MAX)) {
      level.threshold = *value;
    }
  } else if (word.text == "map") {
    if (values > 0) reader.problem(reader.line_number, tokens[1].column, "'map' takes no value");
    reader.in_map = true;
    reader.map_line = reader.line_number;
  } else {
    reader.problem(reader.line_number, word.column,
                   "unknown word " + quote(word.text) +
                       " in a level (size, barriers, rate, threshold, map, end)");
  }
}

void read_line(Reader& reader, std::string_view line) {
  const std::vector<Token> tokens = tokenize(reader, line);
  if (tokens.empty()) return;
  const Token& first = tokens[0];
  if (!reader.header_seen) {
    reader.header_seen = true;
    if (first.text == PACK_HEADER && !first.quoted) {
      if (tokens.size() != 2 || tokens[1].text != std::to_string(PACK_VERSION)) {
        reader.problem(reader.line_number, tokens.size() > 1 ? tokens[1].column : first.column,
                       "this game reads version 1 of the pack format");
      }
      return;
    }
    // Without the header the line may still be the first block: it is read as such.
    reader.problem(reader.line_number, first.column,
                   std::string("a pack begins with '") + PACK_HEADER + " 1'");
  }
  if (reader.block != Block::NONE && !first.quoted && first.text == "end") {
    if (tokens.size() > 1) {
      reader.problem(reader.line_number, tokens[1].column, "'end' takes no value");
    }
    if (reader.block == Block::LEVEL) {
      close_level(reader);
    } else {
      close_story(reader);
    }
    reader.last_closed = reader.block;
    reader.last_closed_line = reader.block_line;
    reader.block = Block::NONE;
    reader.lines = nullptr;
    return;
  }
  switch (reader.block) {
    case Block::NONE: {
      Block block = Block::NONE;
      for (Block candidate : {Block::INTRO, Block::LEVEL, Block::STORY, Block::FINAL}) {
        if (!first.quoted && first.text == block_word(candidate)) block = candidate;
      }
      if (block == Block::NONE) {
        reader.problem(reader.line_number, first.column,
                       "expected a block (intro, level, story, final), not " + quote(first.text));
        return;
      }
      if (tokens.size() > 1) {
        reader.problem(reader.line_number, tokens[1].column, quote(first.text) + " takes no value");
      }
      open_block(reader, first, block);
      return;
    }
    case Block::LEVEL:
      read_level_line(reader, tokens);
      return;
    default:
      read_story_line(reader, tokens);
      return;
  }
}

void put_int(std::vector<unsigned char>& bytes, int32_t value) {
  bytes_put_le32(bytes, static_cast<uint32_t>(value));
}

void put_string(std::vector<unsigned char>& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

void put_lines(std::vector<unsigned char>& bytes, const std::vector<PackLine>& lines) {
  for (const PackLine& line : lines) {
    put_string(bytes, line.text);
    put_int(bytes, static_cast<int32_t>(line.colour));
  }
}

// Reads a stream of the built-in layout, items bounded by its end.
struct StreamReader {
  const std::vector<unsigned char>& bytes;
  size_t cursor;
  std::string string() {
    std::string text;
    while (cursor < bytes.size() && bytes[cursor] != 0) text += static_cast<char>(bytes[cursor++]);
    if (cursor < bytes.size()) ++cursor;
    return text;
  }
  int32_t integer() {
    if (cursor + 4 > bytes.size()) {
      cursor = bytes.size();
      return 0;
    }
    cursor += 4;
    return static_cast<int32_t>(bytes_le32(bytes.data() + cursor - 4));
  }
  // Lines up to the block's end ("" or the intro's "*"); the end is consumed.
  std::vector<PackLine> lines() {
    std::vector<PackLine> block;
    for (std::string text = string(); !text.empty() && text != "*" && cursor < bytes.size();
         text = string()) {
      const uint32_t colour = static_cast<uint32_t>(integer());
      block.push_back({std::move(text), colour});
    }
    return block;
  }
};

void format_lines(std::string& out, const char* word, const std::vector<PackLine>& lines) {
  out += word;
  out += '\n';
  for (const PackLine& line : lines) {
    std::string name = colour_name(line.colour);
    name.resize(std::max<size_t>(name.size(), 9), ' ');
    out += "  " + name + " \"";
    for (char c : line.text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += "\"\n";
  }
  out += "end\n";
}

}  // namespace

int32_t level_pack_text_width(std::string_view text) {
  // The cues the story screen takes off before it draws, in its order; an "&" entry is never
  // drawn at all.
  if (!text.empty() && text[0] == '&') return 0;
  for (char cue : {'#', '$', '%'}) {
    if (!text.empty() && text[0] == cue) text.remove_prefix(1);
  }
  int32_t width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'S') {
      width += PACK_SCORE_DIGITS * PACK_GLYPH_WIDTHS['0' - ' '];
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    width += c >= ' ' && c <= '~' ? PACK_GLYPH_WIDTHS[c - ' '] : PACK_GLYPH_WIDTHS['@' - ' '];
  }
  return width;
}

namespace {

// Where text shows it is no text: its first NUL byte, or a byte that breaks UTF-8 among its
// first PACK_TEXT_PROBE bytes (a comment further on may be in another encoding); npos when none.
constexpr size_t PACK_TEXT_PROBE = 256;
size_t not_text_at(std::string_view text) {
  const size_t nul = text.find('\0');
  const size_t probe = std::min(text.size(), nul == std::string_view::npos ? PACK_TEXT_PROBE : nul);
  for (size_t i = 0; i < probe;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0) return i;
    for (size_t k = 1; k < length; ++k) {
      // A character cut by the probe's end is given the benefit of the doubt.
      if (i + k >= text.size()) return std::string_view::npos;
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    }
    i += length;
  }
  return nul;
}

}  // namespace

bool level_pack_parse(std::string_view text, LevelPack& pack, std::vector<PackProblem>& problems,
                      bool for_editing) {
  pack = LevelPack{};
  problems.clear();
  Reader reader(pack, problems);
  reader.for_editing = for_editing;
  // The line and column of a byte, for the problems found before the text is read as lines.
  const auto problem_at = [&](size_t at, const std::string& message) {
    const int32_t line =
        1 + static_cast<int32_t>(std::count(text.begin(), text.begin() + at, '\n'));
    const size_t line_start = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    const int32_t column =
        static_cast<int32_t>(at - (line_start == std::string_view::npos ? 0 : line_start + 1)) + 1;
    reader.problem(line, column, message);
  };
  // A binary file (a replay, a picture) given as a pack: one line saying so, not a screenful
  // of problems about its bytes. Text never holds a NUL, and its first bytes are UTF-8.
  const size_t binary = not_text_at(text);
  if (binary != std::string_view::npos) {
    problem_at(binary, text[binary] == '\0' ? "not a text file (a NUL byte); a level pack is text"
                                            : "not a text file (not UTF-8); a level pack is text");
    return false;
  }
  // A carriage return not followed by a newline is a line end of old Mac files: read as one
  // line, such a pack would only give a screenful of misleading problems.
  for (size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', cr + 1)) {
    if (cr + 1 == text.size() || text[cr + 1] != '\n') {
      problem_at(cr,
                 "lines end in a lone carriage return (old Mac line ends); save the pack with "
                 "LF or CRLF line ends");
      return false;
    }
  }
  size_t start = 0;
  // A byte-order mark is no content: editors may write one in front of UTF-8.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") start = 3;
  int32_t last_line_length = 0;
  // A final newline ends the last line; it does not start another.
  while ((start < text.size() || (start == text.size() && reader.line_number == 0)) &&
         !reader.full()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++reader.line_number;
    last_line_length = static_cast<int32_t>(line.size());
    read_line(reader, line);
    start = end + 1;
  }
  if (!reader.full()) {
    if (reader.block != Block::NONE) {
      reader.problem(reader.block_line, 1, quote(block_word(reader.block)) + " block has no 'end'");
    }
    const int32_t eof_line = reader.line_number;
    const int32_t eof_column = last_line_length + 1;
    if (!reader.header_seen) {
      reader.problem(1, 1, std::string("empty pack: it begins with '") + PACK_HEADER + " 1'");
    } else if (!reader.intro_seen) {
      reader.problem(eof_line, eof_column, "missing 'intro' block");
    }
    if (reader.header_seen && pack.levels.empty()) {
      reader.problem(eof_line, eof_column, "the pack has no level");
    }
    if (reader.header_seen && !reader.final_seen) {
      reader.problem(eof_line, eof_column, "missing 'final' block after the last level");
    }
  }
  // Problems found when a block closes belong to earlier lines: report in the text's order.
  std::stable_sort(problems.begin(), problems.end(),
                   [](const PackProblem& a, const PackProblem& b) {
                     return a.line != b.line ? a.line < b.line : a.column < b.column;
                   });
  return problems.empty();
}

std::string level_pack_format(const LevelPack& pack) {
  std::string out =
      "# A Q-47 level pack: docs/level-format.md describes this text.\n"
      "q47-level-pack 1\n\n";
  format_lines(out, "intro", pack.intro);
  for (size_t n = 0; n < pack.levels.size(); ++n) {
    const PackLevel& level = pack.levels[n];
    out += "\n# Level " + std::to_string(n + 1) + "\nlevel\n  size " + std::to_string(level.width);
    if (level.height != level.width) out += " " + std::to_string(level.height);
    out += "\n  barriers " + std::to_string(level.barriers) + "\n  rate " +
           std::to_string(level.rate) + "\n  threshold " + std::to_string(level.threshold) +
           "\n  map\n";
    for (const std::string& row : level.rows) out += "    " + row + "\n";
    out += "end\n";
    if (!level.story_after.empty()) {
      out += "\n";
      format_lines(out, "story", level.story_after);
    }
  }
  out += "\n";
  format_lines(out, "final", pack.final_block);
  return out;
}

LevelStream level_pack_compile(const LevelPack& pack) {
  LevelStream stream;
  std::vector<unsigned char>& bytes = stream.bytes;
  put_lines(bytes, pack.intro);
  put_string(bytes, "*");  // the intro's end, which starts the music
  for (size_t n = 0; n < pack.levels.size(); ++n) {
    const PackLevel& level = pack.levels[n];
    stream.records.push_back(bytes.size());
    for (int32_t value : {level.width, level.height, level.barriers, level.rate, level.threshold}) {
      put_int(bytes, value);
    }
    for (const std::string& row : level.rows) put_string(bytes, row);
    const bool last = n + 1 == pack.levels.size();
    if (!last && !level.story_after.empty()) {
      stream.blocks.push_back(static_cast<long>(bytes.size()));
      put_lines(bytes, level.story_after);
      put_string(bytes, "");
    } else {
      stream.blocks.push_back(-1);
    }
  }
  if (!stream.blocks.empty()) stream.blocks.back() = static_cast<long>(bytes.size());
  put_lines(bytes, pack.final_block);
  put_string(bytes, "");
  return stream;
}

LevelPack level_pack_from_stream(const LevelStream& stream) {
  LevelPack pack;
  StreamReader reader{stream.bytes, 0};
  pack.intro = reader.lines();
  for (size_t n = 0; n < stream.records.size(); ++n) {
    PackLevel level;
    reader.cursor = stream.records[n];
    level.width = reader.integer();
    level.height = reader.integer();
    level.barriers = reader.integer();
    level.rate = reader.integer();
    level.threshold = reader.integer();
    for (int32_t y = 0; y < level.height && reader.cursor < stream.bytes.size(); ++y) {
      level.rows.push_back(reader.string());
    }
    const long block = stream.blocks[n];
    const bool last = n + 1 == stream.records.size();
    if (block >= 0) {
      reader.cursor = static_cast<size_t>(block);
      (last ? pack.final_block : level.story_after) = reader.lines();
    }
    pack.levels.push_back(std::move(level));
  }
  return pack;
}

std::string level_pack_problems_text(const std::string& name,
                                     const std::vector<PackProblem>& problems) {
  std::string text;
  for (size_t i = 0; i < problems.size() && i < static_cast<size_t>(PACK_PROBLEMS_MAX); ++i) {
    text += name + ":" + std::to_string(problems[i].line) + ":" +
            std::to_string(problems[i].column) + ": " + problems[i].message + "\n";
  }
  if (problems.size() > static_cast<size_t>(PACK_PROBLEMS_MAX)) {
    text += name + ": more problems not shown\n";
  }
  return text;
}

std::string level_pack_level_problem(const std::string& option, int64_t level, int32_t count,
                                     bool from_pack) {
  if (level <= count) return {};
  return option + ": " + (from_pack ? "the pack" : "the game") + " has only " +
         std::to_string(count) + " levels";
}
