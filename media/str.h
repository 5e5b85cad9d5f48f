// String helpers the game builds its text with. Each returns a new string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Decimal text of value, with a leading minus for negatives.
std::string str_from_int(int64_t value);
// The first n characters of s (n below 0 counts as 0).
std::string str_left(std::string_view s, int64_t n);
// s from 1-based position start to its end.
std::string str_mid(std::string_view s, int64_t start);
// s with every non-overlapping match of find, left to right, replaced; empty find matches nothing.
std::string str_replace(std::string_view s, std::string_view find, std::string_view replacement);
// s with a..z turned into A..Z.
std::string str_upper(std::string_view s);
