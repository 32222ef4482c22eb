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
// version, compared names in ASCII letter case only; version 1 compared them
// as the registry does through a collation of its own; version 2 keeps each
// name's folded form in a column beside it, under a plain binary index.
constexpr std::int64_t kStoreVersion = 2;

// The SQL that creates the tables and the root keys where they are missing.
// Runs inside a write transaction of the caller.
const char* StoreSchemaSql();

// Answers the version of the store's tables in `version`, and an SQLite
// result code. A database of the current tables without a version (a copy
// restored from the shell's .dump, which keeps neither the version nor the
// application id) counts as the current version.
int ReadStoreVersion(sqlite3* db, std::int64_t* version);

// Whether the database, without the application id of a store, is a store
// restored from a copy: the current tables and nothing else of its own.
int IsRestoredStore(sqlite3* db, bool* restored);

// Makes the tables of a new store, or brings those of an older version to the
// current one, inside a write transaction of the caller: one commit moves the
// store from the old tables to the new ones. A store of a later version than
// kStoreVersion is left as it is. Answers the version found in `version`,
// and an SQLite result code.
int SetUpStoreTables(sqlite3* db, std::int64_t* version);

// Makes the collation of the name columns of a version 1 store known to a
// connection, for the migration and for tests that make such stores.
int RegisterOldNameCollation(sqlite3* db);

// Sets the journal and sync settings of a read-write connection. Answers an
// SQLite result code.
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
