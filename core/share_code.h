// Share codes: a level pack's text as one line of URL-safe characters, to paste into a chat or to
// put in a link as "#pack=CODE". A code is "Q47P1:" and then, in URL-safe base64 without padding,
// the text's length, the text packed by a small LZ77 (map rows and story lines repeat a great
// deal) and an FNV-1a check of the text, so that a code cut short or mistyped is said to be
// damaged instead of being read as a pack with puzzling problems. The text a code holds is read
// by the same reader as a file, so its problems are the same "code:LINE:COLUMN: message" lines.
#pragma once

#include <string>
#include <string_view>

#include "core/level_pack.h"

constexpr const char* SHARE_CODE_PREFIX = "Q47P1:";    // names the game and the code's version
constexpr const char* SHARE_CODE_FRAGMENT = "#pack=";  // a link's fragment before the code
constexpr const char* SHARE_CODE_NAME = "code";        // what stands for a file name in problems
// The longest code a shell hands to the reader: a 4 MiB pack's code (base64 of its packed text
// is at most about 1.4 times the text), with room for the line breaks of a wrapped code.
constexpr size_t SHARE_CODE_MAX = 2 * PACK_FILE_MAX;

// The code of text (any bytes, though a pack's text is what it is for).
std::string share_code_encode(std::string_view text);
// The link fragment of text: "#pack=" and its code.
std::string share_code_fragment(std::string_view text);
// The text a code holds. The code may come alone, as a "#pack=" fragment or inside a whole link,
// with spaces and line breaks anywhere in it (a code wrapped by a mail program). Returns false
// with one line in problem ("code: ...", no newline) when it is no code of this game's or is
// damaged; text is then unspecified.
bool share_code_decode(std::string_view code, std::string& text, std::string& problem);
// The pack a code holds: false with problems as level_pack_problems_text gives them, named
// "code", or the one line of share_code_decode and a newline when the code itself is unusable.
bool share_code_read(std::string_view code, LevelPack& pack, std::string& problems);
