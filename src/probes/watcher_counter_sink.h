#pragma once
// What the process activity watcher needs of the restart engine: a place to hand counter paths
// to. The engine passes each to its watcher companion and answers whether it was accepted.

#include "core/qor_str.h"

class CWatcherCounterSink {
 public:
  // True when the watcher accepted the counter path.
  virtual bool AddWatcherCounter(const CQorStr& path) = 0;

 protected:
  ~CWatcherCounterSink() = default;
};
