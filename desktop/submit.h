// Sending runs to a hub, which re-runs them with the rules and keeps what they prove, and the
// player's key there. The key and the list of runs already sent live in the state folder.
#pragma once

#include <string>
#include <vector>

constexpr const char* SUBMIT_KEY_NAME = "hub-key";     // "URL KEY" lines: the player's key per hub
constexpr const char* SUBMIT_SENT_NAME = "hub-sent";   // "URL SHA256 RUN" lines: kept runs sent
constexpr const char* SUBMIT_LOCK_NAME = ".hub.lock";  // held while one --submit runs
constexpr int SUBMIT_WAIT_SECONDS = 60;  // how long the runs sent may take to be verified

// --submit [FILE]...: sends each replay (none: the kept runs not sent yet) to the hub and prints
// one line per file with the hub's verdict. 0 when every run was verified, 1 when one was
// refused or not verified in time, 2 for misuse, an unusable file or a hub that cannot be used.
int submit_main(const std::vector<std::string>& files);
// --hub-key-export: prints the kept keys ("URL KEY" lines). 1 when there is none.
int hub_key_export_main();
// --hub-key-import FILE: keeps the keys of FILE ("URL KEY" lines, or a bare KEY for the hub in
// use); a different key already kept for a hub is never replaced. 2 when FILE is unusable.
int hub_key_import_main(const std::string& path);

class HubConnection;
// The player's key at hub (made there and kept on first use); empty after saying why not on
// standard error.
std::string submit_key(HubConnection& connection, const std::string& hub);

// The hub in use: --hub, else $Q47_HUB, else the hub on this machine. Empty, with the reason in
// problem, when the one chosen is no hub's URL.
std::string submit_hub_url(std::string& problem);
