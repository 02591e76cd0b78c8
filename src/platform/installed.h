#pragma once
// The process-wide choice of each platform facility. Code asks for a facility with
// Use<Clock>() and gets the real POSIX one unless a test installed another with ScopedInstall.

#include <atomic>

namespace snx::platform {

// The real implementation of a facility; each is defined by the POSIX layer.
template <class Facility>
Facility& DefaultFacility();

template <class Facility>
class Installed {
 public:
  static Facility& Get() {
    Facility* f = current_.load(std::memory_order_acquire);
    return f != nullptr ? *f : DefaultFacility<Facility>();
  }
  static Facility* Swap(Facility* f) { return current_.exchange(f, std::memory_order_acq_rel); }

 private:
  static inline std::atomic<Facility*> current_{nullptr};
};

template <class Facility>
Facility& Use() {
  return Installed<Facility>::Get();
}

// Puts a facility in force for the lifetime of the guard (tests and tools).
template <class Facility>
class ScopedInstall {
 public:
  explicit ScopedInstall(Facility& f) : previous_(Installed<Facility>::Swap(&f)) {}
  ~ScopedInstall() { Installed<Facility>::Swap(previous_); }
  ScopedInstall(const ScopedInstall&) = delete;
  ScopedInstall& operator=(const ScopedInstall&) = delete;

 private:
  Facility* previous_;
};

}  // namespace snx::platform
