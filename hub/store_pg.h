// The hub's storage on a PostgreSQL server (store_open_postgresql in hub/store.h): for a hub
// of several processes, or one that outgrows a file. Connections are pooled; every statement
// binds its values; an operation of several writes is one transaction; every
// operation has committed before it returns.
#pragma once

#include <cstddef>

constexpr size_t STORE_PG_CONNECTIONS = 16;  // connections one hub process keeps at most
// Another operation waits this long for a free connection before the store reports a failure.
constexpr int STORE_PG_WAIT_SECONDS = 10;
// Every hub process makes the tables under this advisory lock, so several starting together
// do not trip over each other.
constexpr long long STORE_PG_SCHEMA_LOCK = 0x51473437;  // "QG47"
