// The store's life, its file and its commits as a whole: what each call
// does first, which file it uses, and the commits that regstore.h asks for.
#include "regstore/store.h"

namespace regstore {

using namespace regdefs;

Store& Store::Instance() {
  // Destroyed after main returns, which commits what is still pending.
  static Store store;
  return store;
}

Store::Store() = default;

Store::~Store() {
  std::unique_lock<std::mutex> lock(mutex_);
  groups_.StopCommitter(&lock);
  groups_.Finish();
  Disconnect();
}

Status Store::Enter() {
  lookup_.ForgetMissing();
  if (!connection_.is_open()) {
    std::string detail;
    Status status = connection_.Open(&detail);
    if (status != kErrorSuccess)
      connection_.Note("cannot use the registry store " + connection_.opened_path() + ": " +
                       detail);
    return status;
  }
  groups_.CommitIfDue();
  return kErrorSuccess;
}

void Store::Disconnect() {
  connection_.Close();
  groups_.Abandon();
  lookup_.cache().Forget();
  lookup_.cache().Unsync();
}

std::string Store::Path() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection_.Path();
}

void Store::UsePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  groups_.Commit();
  Disconnect();
  handles_.Clear();
  connection_.UsePath(path);
  groups_.Reset();
}

void Store::SetWaitLimit(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  connection_.SetWaitLimit(milliseconds);
}

Status Store::Connect(std::string* detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connection_.is_open())
    return kErrorSuccess;
  return connection_.Open(detail);
}

bool Store::ReadOnly() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!connection_.is_open() && connection_.Open(nullptr) != kErrorSuccess)
    return true;
  return connection_.read_only();
}

Status Store::State() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!connection_.is_open()) {
    const Status opened = connection_.open_status() != kErrorSuccess ? connection_.open_status()
                                                                     : connection_.Open(nullptr);
    if (opened != kErrorSuccess)
      return opened;
  }
  if (connection_.trouble() != kErrorSuccess)
    return connection_.trouble();
  if (groups_.lost_changes() != kErrorSuccess)
    return groups_.lost_changes();
  return connection_.read_only() ? kErrorWriteProtect : kErrorSuccess;
}

Status Store::CommitPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return groups_.CommitPending();
}

void Store::HoldChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  groups_.Hold();
}

void Store::DiscardChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  groups_.Discard();
}

Status Store::CommitToDisk() {
  std::lock_guard<std::mutex> lock(mutex_);
  return groups_.CommitToDisk();
}

void Store::SetGroupLimits(std::chrono::milliseconds age, std::uint64_t keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  groups_.SetLimits(age, keys);
}

}  // namespace regstore
