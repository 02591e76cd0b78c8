#pragma once
// IWatcher: the process-activity watcher companion "QorPerf.Watcher" ("QorPerf.dll").
// Methods stand in slot order after the seven of the dispatch base (method 1 = slot 7). Every
// value goes in as a Variant by pointer; a 32-bit out value of -1 means yes.

#include <cstdint>

#include "components/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_Watcher = {
    0x4D712D04, 0xD64C, 0x467F, {0x89, 0x94, 0x4A, 0x4A, 0xA8, 0x45, 0xBE, 0xD9}};
inline constexpr const char* kWatcherProgId = "QorPerf.Watcher";
inline constexpr const char* kWatcherFile = "QorPerf.dll";

class IWatcher : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x854636E1, 0x5CEF, 0x4B0D, {0x92, 0x73, 0x29, 0x67, 0xA9, 0xBE, 0x05, 0x19}};

  // 1 (7): configures the watcher with the install folder (text). -1 = ready.
  virtual HRESULT Configure(Variant* folder, std::int32_t* ready) = 0;
  // 2 (8): forgets every counter. -1 = done.
  virtual HRESULT ClearCounters(std::int32_t* done) = 0;
  // 3 (9): the number of counters held.
  virtual HRESULT GetCounterCount(std::int32_t* count) = 0;
  // 4 (10): takes one sample now, besides the watcher's own sampling. -1 = taken.
  virtual HRESULT SampleNow(std::int32_t* done) = 0;
  // 5 (11): adds a counter path (text, "\\MACHINE\Process(stem)\Counter"). -1 = accepted.
  virtual HRESULT AddCounter(Variant* path, std::int32_t* accepted) = 0;
  // 6 (12): the path of the counter at `index` (integer, from 0) as text; empty past the end.
  virtual HRESULT GetCounterPath(Variant* index, Variant* path) = 0;
  // 7 (13): the last sampled value of the counter at `index` as readable text ("12.5"), or
  // "gone" when its process no longer runs; empty past the end.
  virtual HRESULT GetCounterValue(Variant* index, Variant* value) = 0;
  // 8 (14): tests with the threshold (integer). -1 = the watched server is working.
  virtual HRESULT TestWorking(Variant* threshold, std::int32_t* working) = 0;
  // 9 (15): sets the level (integer).
  virtual HRESULT SetLevel(Variant* level) = 0;
  // 10 (16): takes the creation count (integer). -1 = taken.
  virtual HRESULT SetCreationCount(Variant* count, std::int32_t* done) = 0;
  // 11 (17): the text of the last failure (empty when the last test found the server working).
  virtual HRESULT GetText(Variant* text) = 0;

 protected:
  ~IWatcher() = default;
};

}  // namespace snx::platform
