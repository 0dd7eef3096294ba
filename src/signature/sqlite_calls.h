#pragma once
#include <sqlite3.h>

namespace veldrano {

// Finalizes statement, and forgets it.
inline void Finalize(sqlite3_stmt*& statement) {
  sqlite3_finalize(statement);
  statement = nullptr;
}

inline bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

}  // namespace veldrano
