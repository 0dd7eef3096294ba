#pragma once
#include <sqlite3.h>

#include <mutex>
#include <string>

namespace veldrano {

// Finalizes statement, and forgets it.
inline void Finalize(sqlite3_stmt*& statement) {
  sqlite3_finalize(statement);
  statement = nullptr;
}

inline bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Opens the database at path (flags: read-only or read-write), never through
// a link, each connection used by one thread at a time. The first call
// turns off SQLite's count of the memory it takes: keeping that count takes
// one lock, shared by every connection, at each of its allocations, so two
// threads reading the cache at once would wait on each other all the time.
inline int OpenDatabase(const std::string& path, int flags, sqlite3** db) {
  static std::once_flag configured;
  std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  return sqlite3_open_v2(path.c_str(), db, flags | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
}

}  // namespace veldrano
