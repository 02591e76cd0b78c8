#pragma once
// IUtReport: the report companion "SnxReport.UtReport" ("SnxReport.dll"). The watchdog only
// registers it; its one method gives a one-line description of the component.

#include "platform/component.h"

namespace snx::platform {

inline constexpr CLSID CLSID_UtReport = {
    0xB6AC85D5, 0xB819, 0x467A, {0x9F, 0xCA, 0xFB, 0x16, 0xBD, 0xCD, 0xE6, 0x7F}};
inline constexpr const char* kUtReportProgId = "SnxReport.UtReport";
inline constexpr const char* kUtReportFile = "SnxReport.dll";

class IUtReport : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x1A8227FD, 0xFD95, 0x4FD7, {0x98, 0x80, 0x99, 0xAD, 0x24, 0x3F, 0x77, 0x21}};

  // 1 (7): a one-line description (text).
  virtual HRESULT Describe(Variant* text) = 0;

 protected:
  ~IUtReport() = default;
};

}  // namespace snx::platform
