// The database layout of the registry store and the settings of its
// connections. The store uses them, and so do measurements that compare the
// store with plain SQLite work on the same tables: besides regstore.h, this is
// the one header of the library that the benchmarks may include.
#ifndef BREVLIN_REGSTORE_SCHEMA_H_
#define BREVLIN_REGSTORE_SCHEMA_H_

#include <sqlite3.h>

#include <cstdint>

#include "regdefs/root_keys.h"

namespace regstore {

// Marks a database as a registry store (PRAGMA application_id).
constexpr std::int32_t kStoreApplicationId = 0x52656753;  // "RegS"

// Row ids of the root keys, in the order of regdefs::kRootKeys.
constexpr std::int64_t kFirstRootId = 1;
constexpr std::int64_t kLastRootId = kFirstRootId + regdefs::kRootKeyCount - 1;

// The version of the store's tables that this program makes and reads
// (PRAGMA user_version). Version 0, the stores made before there was a
// version, compared names in ASCII letter case only; version 1 compares them
// as the registry does.
constexpr std::int64_t kStoreVersion = 1;

// The SQL that creates the tables and the root keys where they are missing.
// Runs inside a write transaction of the caller.
const char* StoreSchemaSql();

// Answers the store's version in `version`, and an SQLite result code.
int ReadStoreVersion(sqlite3* db, std::int64_t* version);

// Makes the tables of a new store, or brings those of a store of version 0
// to the current version, inside a write transaction of the caller. A store
// of a later version than kStoreVersion is left as it is. Answers the
// version found in `version`, and an SQLite result code.
int SetUpStoreTables(sqlite3* db, std::int64_t* version);

// Makes the collation of names known to a new connection, then sets the
// journal and sync settings of a read-write one. Answers an SQLite result
// code.
int ConfigureStoreConnection(sqlite3* db);

// Sets the page cache of a connection, read-write or read-only, once the
// store is known to be one. Answers an SQLite result code.
int ConfigurePageCache(sqlite3* db);

// Settings of the SQLite library for the whole process, made before its
// first connection opens (later calls change nothing): no memory statistics,
// which would take a global lock on every allocation.
void ConfigureSqliteLibrary();

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_SCHEMA_H_
