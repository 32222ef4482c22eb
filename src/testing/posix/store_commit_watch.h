// Tells when the store commits: while a watch lives, the store's groups end
// only when something commits them (no age or key limit ends them), and a
// second connection to the store file, as another process would have,
// counts the values it can see.
#ifndef BREVLIN_TESTING_POSIX_STORE_COMMIT_WATCH_H_
#define BREVLIN_TESTING_POSIX_STORE_COMMIT_WATCH_H_

#include <string>

struct sqlite3;

namespace testing_support {

class StoreCommitWatch {
 public:
  // Watches the store file `store_path`, which this process uses.
  explicit StoreCommitWatch(const std::string& store_path);
  ~StoreCommitWatch();
  StoreCommitWatch(const StoreCommitWatch&) = delete;
  StoreCommitWatch& operator=(const StoreCommitWatch&) = delete;

  // Writes the key HKCU\Software\BrevlinTest\K<n> with three values and
  // closes it; answers false when any step fails.
  static bool WriteKey(int n);
  // The values below the keys K<n> that the other connection sees; -1 when
  // it cannot tell.
  int ValuesSeen();

 private:
  sqlite3* other_ = nullptr;
};

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_STORE_COMMIT_WATCH_H_
