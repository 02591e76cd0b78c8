#include "platform/fake/fake_key_store.h"

namespace snx::platform {

KeyTree FakeKeyStore::Snapshot(RegRoot root) {
  std::lock_guard<std::mutex> lock(mutex_);
  return TreeOf(root);
}

void FakeKeyStore::FailWritesAfter(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_left_ = count;
}

int FakeKeyStore::write_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return write_count_;
}

RegResult FakeKeyStore::Read(RegRoot root, KeyTree& tree) {
  std::lock_guard<std::mutex> lock(mutex_);
  tree = TreeOf(root);
  return RegResult::kOk;
}

RegResult FakeKeyStore::Modify(RegRoot root, const Change& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  KeyTree tree = TreeOf(root);
  bool changed = false;
  const RegResult result = change(tree, changed);
  if (result != RegResult::kOk || !changed) return result;
  if (writes_left_ == 0) return RegResult::kIoError;
  if (writes_left_ > 0) --writes_left_;
  TreeOf(root) = std::move(tree);
  ++write_count_;
  return RegResult::kOk;
}

}  // namespace snx::platform
