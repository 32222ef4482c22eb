// The read scope of one call: the reads of a call share one read
// transaction, which is much cheaper than one per statement. Inside a write
// transaction, or inside another read scope, it does nothing; a write
// transaction begun inside it ends the read transaction first.
#ifndef BREVLIN_REGSTORE_TRANSACTION_H_
#define BREVLIN_REGSTORE_TRANSACTION_H_

namespace regstore {

class Store;

class ReadScope {
 public:
  explicit ReadScope(Store* store);
  ~ReadScope();
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Store* store_;
  bool began_;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_TRANSACTION_H_
