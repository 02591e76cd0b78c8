#pragma once
// A key store in memory for tests: both roots start empty, writes can be made to fail, and the
// test can look at the keys directly.

#include <mutex>

#include "platform/key_store.h"

namespace snx::platform {

class FakeKeyStore : public KeyStore {
 public:
  // The keys of a root as they stand (a copy).
  KeyTree Snapshot(RegRoot root);
  // Writes after the next `count` ones fail with kIoError and change nothing; -1: none fails.
  void FailWritesAfter(int count);
  // Changes stored so far.
  int write_count() const;

 protected:
  RegResult Read(RegRoot root, KeyTree& tree) override;
  RegResult Modify(RegRoot root, const Change& change) override;

 private:
  KeyTree& TreeOf(RegRoot root) { return root == RegRoot::kLocalMachine ? machine_ : classes_; }

  mutable std::mutex mutex_;
  KeyTree machine_;
  KeyTree classes_;
  int writes_left_ = -1;
  int write_count_ = 0;
};

}  // namespace snx::platform
