// Share codes: the pack's text packed, checked and written in URL-safe base64 behind a prefix.
#include "core/share_code.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "core/replay_codec.h"

namespace {

constexpr std::string_view SHARE_CODE_MAGIC = "Q47P";  // the prefix before its version
constexpr int32_t SHARE_CODE_VERSION = 1;
constexpr std::string_view BASE64_DIGITS =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The packed text is a run of items, each a control byte and what it says:
//   0..127: that many plus one literal bytes follow;
//   128..255: a copy of (byte - 128) + LZ_MATCH_MIN bytes from earlier in the text, at a
//             distance (minus one) that follows as a LEB128 number. A copy may overlap the bytes
//             it makes, which is how a long row of floor becomes three bytes.
constexpr size_t LZ_LITERALS_MAX = 128;
constexpr size_t LZ_MATCH_MIN = 4;  // a copy of fewer bytes would save nothing
constexpr size_t LZ_MATCH_MAX = 127 + LZ_MATCH_MIN;
constexpr int LZ_HASH_BITS = 15;
constexpr int32_t LZ_CHAIN_MAX = 32;  // earlier places tried for each match: enough for a pack
constexpr size_t LEB128_BYTES_MAX = 5;

constexpr const char* DAMAGED = "damaged or cut short (copy the whole code)";

void put_leb128(std::string& out, size_t value) {
  while (value >= 0x80) {
    out += static_cast<char>(0x80 | (value & 0x7F));
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// Reads a LEB128 number at bytes[pos] onwards; false when it is cut short or too long.
bool get_leb128(const std::string& bytes, size_t& pos, size_t& value) {
  value = 0;
  for (size_t shift = 0, count = 0; count < LEB128_BYTES_MAX; ++count, shift += 7) {
    if (pos >= bytes.size()) return false;
    const unsigned char byte = static_cast<unsigned char>(bytes[pos++]);
    value |= static_cast<size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return true;
  }
  return false;
}

uint32_t hash4(std::string_view text, size_t pos) {
  const uint32_t word = bytes_le32(reinterpret_cast<const unsigned char*>(text.data() + pos));
  return (word * 2654435761u) >> (32 - LZ_HASH_BITS);
}

// Greedy LZ77 with hash chains: the longest earlier match at each place, else a literal.
std::string lz_pack(std::string_view text) {
  std::vector<int32_t> head(size_t{1} << LZ_HASH_BITS, -1);
  std::vector<int32_t> previous(text.size(), -1);
  std::string out;
  size_t literal_start = 0;
  const auto remember = [&](size_t pos) {
    if (pos + LZ_MATCH_MIN > text.size()) return;
    const uint32_t hash = hash4(text, pos);
    previous[pos] = head[hash];
    head[hash] = static_cast<int32_t>(pos);
  };
  const auto flush_literals = [&](size_t end) {
    while (literal_start < end) {
      const size_t count = std::min(LZ_LITERALS_MAX, end - literal_start);
      out += static_cast<char>(count - 1);
      out.append(text.substr(literal_start, count));
      literal_start += count;
    }
  };
  size_t pos = 0;
  while (pos < text.size()) {
    size_t best_length = 0;
    size_t best_distance = 0;
    if (pos + LZ_MATCH_MIN <= text.size()) {
      const size_t longest = std::min(LZ_MATCH_MAX, text.size() - pos);
      int32_t candidate = head[hash4(text, pos)];
      for (int32_t tries = 0; candidate >= 0 && tries < LZ_CHAIN_MAX; ++tries) {
        const size_t from = static_cast<size_t>(candidate);
        size_t length = 0;
        while (length < longest && text[from + length] == text[pos + length]) ++length;
        if (length > best_length) {
          best_length = length;
          best_distance = pos - from;
          if (length == longest) break;
        }
        candidate = previous[from];
      }
    }
    if (best_length < LZ_MATCH_MIN) {
      remember(pos++);
      continue;
    }
    flush_literals(pos);
    out += static_cast<char>(0x80 | (best_length - LZ_MATCH_MIN));
    put_leb128(out, best_distance - 1);
    for (size_t end = pos + best_length; pos < end; ++pos) remember(pos);
    literal_start = pos;
  }
  flush_literals(text.size());
  return out;
}

// Unpacks bytes[pos, end) into exactly length bytes of text; false when they do not make that.
bool lz_unpack(const std::string& bytes, size_t pos, size_t end, size_t length, std::string& text) {
  text.clear();
  text.reserve(length);
  while (pos < end) {
    const unsigned char control = static_cast<unsigned char>(bytes[pos++]);
    if (control < 0x80) {
      const size_t count = size_t{control} + 1;
      if (count > end - pos || count > length - text.size()) return false;
      text.append(bytes, pos, count);
      pos += count;
      continue;
    }
    const size_t count = (control & 0x7F) + LZ_MATCH_MIN;
    size_t distance = 0;
    if (!get_leb128(bytes, pos, distance) || pos > end) return false;
    ++distance;
    if (distance > text.size() || count > length - text.size()) return false;
    for (size_t i = 0, from = text.size() - distance; i < count; ++i) text += text[from + i];
  }
  return text.size() == length;
}

std::string base64_encode(const std::string& bytes) {
  std::string out;
  uint32_t bits = 0;
  int32_t held = 0;
  for (char c : bytes) {
    bits = bits << 8 | static_cast<unsigned char>(c);
    held += 8;
    while (held >= 6) {
      held -= 6;
      out += BASE64_DIGITS[bits >> held & 0x3F];
    }
  }
  if (held > 0) out += BASE64_DIGITS[bits << (6 - held) & 0x3F];
  return out;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The character at index as a message shows it.
std::string shown(std::string_view code, size_t index) {
  const unsigned char c = static_cast<unsigned char>(code[index]);
  std::string where = " (character " + std::to_string(index + 1) + ")";
  if (c > ' ' && c < 0x7F) return "'" + std::string(1, static_cast<char>(c)) + "'" + where;
  static constexpr char HEX[] = "0123456789ABCDEF";
  return std::string("byte 0x") + HEX[c >> 4] + HEX[c & 0xF] + where;
}

}  // namespace

std::string share_code_encode(std::string_view text) {
  std::string payload;
  put_leb128(payload, text.size());
  payload += lz_pack(text);
  std::vector<char> check;
  bytes_put_le32(check, replay_hash(text.data(), text.size()));
  payload.append(check.begin(), check.end());
  return SHARE_CODE_PREFIX + base64_encode(payload);
}

std::string share_code_fragment(std::string_view text) {
  return SHARE_CODE_FRAGMENT + share_code_encode(text);
}

bool share_code_decode(std::string_view code, std::string& text, std::string& problem) {
  const std::string name = std::string(SHARE_CODE_NAME) + ": ";
  // Where the code starts: after a link's "#pack=", or at its first character that is no space.
  size_t pos = code.find(SHARE_CODE_FRAGMENT);
  pos = pos == std::string_view::npos ? 0 : pos + std::string_view(SHARE_CODE_FRAGMENT).size();
  while (pos < code.size() && is_space(code[pos])) ++pos;
  if (pos == code.size()) {
    problem = name + "empty (a share code begins with " + SHARE_CODE_PREFIX + ")";
    return false;
  }
  if (code.substr(pos, SHARE_CODE_MAGIC.size()) != SHARE_CODE_MAGIC) {
    problem = name + "not a share code of this game (one begins with " + SHARE_CODE_PREFIX + ")";
    return false;
  }
  pos += SHARE_CODE_MAGIC.size();
  int64_t version = 0;
  size_t digits = 0;
  for (; pos < code.size() && code[pos] >= '0' && code[pos] <= '9'; ++pos, ++digits) {
    if (version < 1000000) version = version * 10 + (code[pos] - '0');
  }
  // A link handed through some programs has its ':' written as "%3A".
  size_t colon = 0;
  if (pos < code.size() && code[pos] == ':') {
    colon = 1;
  } else if (code.substr(pos, 3) == "%3A" || code.substr(pos, 3) == "%3a") {
    colon = 3;
  }
  if (digits == 0 || colon == 0) {
    problem = name + "not a share code of this game (one begins with " + SHARE_CODE_PREFIX + ")";
    return false;
  }
  if (version != SHARE_CODE_VERSION) {
    problem = name + "a version " + std::to_string(version) +
              " share code; this game reads version " + std::to_string(SHARE_CODE_VERSION);
    return false;
  }
  pos += colon;

  std::string payload;
  uint32_t bits = 0;
  int32_t held = 0;
  for (; pos < code.size(); ++pos) {
    if (is_space(code[pos])) continue;
    const size_t digit = BASE64_DIGITS.find(code[pos]);
    if (digit == std::string_view::npos) {
      problem =
          name + shown(code, pos) + " is not part of a share code (letters, digits, '-', '_')";
      return false;
    }
    bits = bits << 6 | static_cast<uint32_t>(digit);
    held += 6;
    if (held >= 8) {
      held -= 8;
      payload += static_cast<char>(bits >> held & 0xFF);
    }
  }

  size_t cursor = 0;
  size_t length = 0;
  if (!get_leb128(payload, cursor, length) || payload.size() - cursor < 4) {
    problem = name + DAMAGED;
    return false;
  }
  if (length > PACK_FILE_MAX) {
    problem = name + "holds " + std::to_string(length) + " bytes, more than a pack may (" +
              std::to_string(PACK_FILE_MAX) + ")";
    return false;
  }
  const size_t end = payload.size() - 4;
  const uint32_t check = bytes_le32(reinterpret_cast<const unsigned char*>(payload.data() + end));
  if (!lz_unpack(payload, cursor, end, length, text) ||
      replay_hash(text.data(), text.size()) != check) {
    problem = name + DAMAGED;
    return false;
  }
  return true;
}

bool share_code_read(std::string_view code, LevelPack& pack, std::string& problems) {
  std::string text;
  std::string problem;
  if (!share_code_decode(code, text, problem)) {
    pack = LevelPack{};
    problems = problem + "\n";
    return false;
  }
  std::vector<PackProblem> found;
  if (!level_pack_parse(text, pack, found)) {
    problems = level_pack_problems_text(SHARE_CODE_NAME, found);
    return false;
  }
  problems.clear();
  return true;
}
