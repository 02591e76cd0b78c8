#pragma once
// IPulse: the life-sign companion "QorPulse.Pulse" ("QorPulse.dll"). The watchdog only
// registers it; snxctl pulse drives it to tell a push monitor outside the machine that the
// watchdog's heartbeat is fresh (docs/pulse.md). Methods stand in slot order after the seven
// of the dispatch base (method 1 = slot 7); a 32-bit out value of -1 means yes.

#include <cstdint>

#include "components/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_Pulse = {
    0x1B439D76, 0xD5F1, 0x4C37, {0x94, 0xF4, 0x74, 0x15, 0xEB, 0xA0, 0x4A, 0x81}};
inline constexpr const char* kPulseProgId = "QorPulse.Pulse";
inline constexpr const char* kPulseFile = "QorPulse.dll";

class IPulse : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x3E1E8326, 0xFF5D, 0x4CB7, {0xA9, 0xFF, 0x97, 0x38, 0xBF, 0xBB, 0xB3, 0x56}};

  // 1 (7): -1 while the component is alive.
  virtual HRESULT Beat(std::int32_t* alive) = 0;

  // The methods below answer E_NOTIMPL unless the object serves them: a stand-in that only
  // proves the component layer need not write them.
  // 2 (8): configures it with the install folder (text). -1 = ready.
  virtual HRESULT Configure(Variant* folder, std::int32_t* ready) { return E_NOTIMPL; }
  // 3 (9): reads the last line of the heartbeat file "Beat.txt" where the watchdog writes it
  // and tests its age against the most seconds allowed (integer). -1 = fresh.
  virtual HRESULT TestHeartbeat(Variant* max_age_seconds, std::int32_t* fresh) { return E_NOTIMPL; }
  // 4 (10): one HTTP GET of the URL (text), following at most one redirect, bounded to 10
  // seconds in all. -1 = answered with a status of 200 to 299.
  virtual HRESULT Push(Variant* url, std::int32_t* answered) { return E_NOTIMPL; }
  // 5 (11): why the last heartbeat test or push failed; empty after one that did not.
  virtual HRESULT GetText(Variant* text) { return E_NOTIMPL; }
  // 6 (12): what the last heartbeat test or push saw, in one line (file, line and age; or URL
  // and answer), whether it failed or not.
  virtual HRESULT GetReport(Variant* text) { return E_NOTIMPL; }

 protected:
  ~IPulse() = default;
};

}  // namespace snx::platform
