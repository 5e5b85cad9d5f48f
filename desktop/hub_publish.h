// A pack and the hub: published from the editor with a proof of each level, and played from its
// link on a hub (the link names the pack by the SHA-256 of its bytes, so what comes is checked).
#pragma once

#include <string>
#include <vector>

#include "core/replay_codec.h"

// Fetches the pack a link names from its hub (no larger than a pack file may be) and checks that
// its bytes are the pack named. False with one line saying why in problem.
bool hub_fetch_pack(const std::string& link, std::string& text, std::string& problem);
// Publishes text with runs (one proof per level, in order) on the hub in use, as the player's
// kept key there. address: the pack's page on the hub; else false with the hub's error line.
bool hub_publish(const std::string& text, const std::vector<Replay>& runs, std::string& address,
                 std::string& problem);
