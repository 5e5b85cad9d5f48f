#include "media/str.h"

std::string str_from_int(int64_t value) {
  // Work on the magnitude as unsigned: negating INT64_MIN as a signed value would overflow.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text;
  text.reserve(count + 1);
  if (value < 0) text.push_back('-');
  while (count > 0) text.push_back(digits[--count]);
  return text;
}

std::string str_left(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  return std::string(s.substr(0, static_cast<size_t>(n)));
}

std::string str_mid(std::string_view s, int64_t start) {
  if (start <= 1) return std::string(s);
  const uint64_t skip = static_cast<uint64_t>(start) - 1;
  if (skip >= s.size()) return {};
  return std::string(s.substr(static_cast<size_t>(skip)));
}

std::string str_replace(std::string_view s, std::string_view find, std::string_view replacement) {
  if (find.empty()) return std::string(s);
  std::string result;
  result.reserve(s.size());
  size_t from = 0;
  for (size_t at = s.find(find); at != std::string_view::npos; at = s.find(find, from)) {
    result.append(s.substr(from, at - from));
    result.append(replacement);
    from = at + find.size();
  }
  result.append(s.substr(from));
  return result;
}

std::string str_upper(std::string_view s) {
  // ASCII only: the text we upper-case is our own map rows, and leaving bytes above 127 alone
  // keeps the result independent of the user's locale.
  std::string result(s);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}
