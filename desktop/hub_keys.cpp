#include "desktop/hub_keys.h"

std::vector<std::vector<std::string>> hub_keys_lines(std::string_view text,
                                                     std::vector<int>* numbers) {
  std::vector<std::vector<std::string>> lines;
  size_t from = 0;
  int number = 0;
  while (from < text.size()) {
    ++number;
    size_t to = text.find('\n', from);
    if (to == std::string_view::npos) to = text.size();
    std::vector<std::string> words;
    size_t at = from;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (at < to) {
      while (at < to && blank(text[at])) ++at;
      size_t end = at;
      while (end < to && !blank(text[end])) ++end;
      if (end > at) words.emplace_back(text.substr(at, end - at));
      at = end;
    }
    if (!words.empty() && words[0][0] != '#') {
      lines.push_back(std::move(words));
      if (numbers) numbers->push_back(number);
    }
    from = to + 1;
  }
  return lines;
}

bool hub_key_well_formed(std::string_view key) {
  if (key.size() != 64) return false;
  for (char c : key) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool hub_keys_parse(std::string_view text, std::map<std::string, std::string>& keys,
                    std::vector<int>* repeated) {
  std::vector<int> numbers;
  const std::vector<std::vector<std::string>> lines = hub_keys_lines(text, &numbers);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string>& words = lines[i];
    if (words.size() != 2 || !hub_key_well_formed(words[1])) return false;
    // The first key kept for a hub is the player's: a later one never silently replaces it.
    const auto [at, added] = keys.emplace(words[0], words[1]);
    if (!added && at->second != words[1] && repeated) repeated->push_back(numbers[i]);
  }
  return true;
}

std::string hub_keys_format(const std::map<std::string, std::string>& keys) {
  std::string text;
  for (const auto& [url, key] : keys) text += url + " " + key + "\n";
  return text;
}
