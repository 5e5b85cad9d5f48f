// The small files --submit keeps in the state folder, as text: words on lines, '#' starting a
// comment line. The keys file holds "URL KEY" lines, one per hub.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The words of each line of text that is not blank or a comment, split at spaces and tabs;
// numbers, when given, gets each one's line number (from 1).
std::vector<std::vector<std::string>> hub_keys_lines(std::string_view text,
                                                     std::vector<int>* numbers = nullptr);
// Whether key looks like a hub key: 64 lowercase hex digits.
bool hub_key_well_formed(std::string_view key);
// Reads "URL KEY" lines into keys (hub URL to key); false at the first line that is not one. A
// second, different key for a hub (two exports joined by hand) is not used: the first line's
// key stays, and the later line's number goes into repeated when given.
bool hub_keys_parse(std::string_view text, std::map<std::string, std::string>& keys,
                    std::vector<int>* repeated = nullptr);
// The keys as the file holds them, one "URL KEY" line each.
std::string hub_keys_format(const std::map<std::string, std::string>& keys);
