#include "core/parse.h"

ParseInt parse_int(std::string_view text, int64_t low, int64_t high, int64_t& value) {
  const bool negative = text.size() > 1 && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return ParseInt::NOT_A_NUMBER;
  // Past 2^40 the value is out of every range we have; it only has to stay a number.
  constexpr int64_t BEYOND = INT64_C(1) << 40;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return ParseInt::NOT_A_NUMBER;
    if (magnitude < BEYOND) magnitude = magnitude * 10 + (c - '0');
  }
  const int64_t number = negative ? -magnitude : magnitude;
  if (number < low || number > high) return ParseInt::OUT_OF_RANGE;
  value = number;
  return ParseInt::OK;
}
