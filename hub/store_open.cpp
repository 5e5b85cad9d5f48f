#include "hub/store.h"

std::unique_ptr<Store> store_open(const std::string& database, std::string& error) {
  if (database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0) {
    return store_open_postgresql(database, error);
  }
  if (database == "memory:") return store_open_memory();
  return store_open_sqlite(database, error);
}

#ifndef Q47_HUB_POSTGRESQL
std::unique_ptr<Store> store_open_postgresql(const std::string&, std::string& error) {
  error = "this hub was built without PostgreSQL (libpqxx-dev was missing)";
  return nullptr;
}
#endif
