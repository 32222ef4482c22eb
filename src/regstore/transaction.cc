#include "regstore/transaction.h"

#include "regstore/store.h"

namespace regstore {

ReadScope::ReadScope(Store* store) : store_(store), began_(!store->in_read_ && !store->in_txn_) {
  if (began_)
    store_->BeginRead();
}

ReadScope::~ReadScope() {
  if (began_)
    store_->EndRead();
}

void Store::BeginRead() {
  sqlite3_stmt* stmt = Statement(kBeginRead);
  in_read_ = sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_reset(stmt);
}

void Store::EndRead() {
  if (!in_read_)
    return;
  in_read_ = false;
  sqlite3_stmt* stmt = Statement(kCommit);
  sqlite3_step(stmt);
  sqlite3_reset(stmt);
}

}  // namespace regstore
