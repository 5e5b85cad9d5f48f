// A pack's link on a hub, as a player pastes it after --levels: the hub's page of the pack, or
// the pack's file in the hub's API. The pack is named by the SHA-256 of its bytes.
#pragma once

#include <string>

// Whether path is a link to a pack on a hub: http(s)://HOST[:PORT][/PREFIX]/packs/ID or
// .../api/packs/ID/file, ID being 64 lowercase hex digits. base is then the hub's URL (what
// precedes /packs or /api) and id the pack's.
bool hub_pack_link(const std::string& path, std::string& base, std::string& id);
