#pragma once
// IUtReport: the report companion "SnxReport.UtReport" ("SnxReport.dll"). It reads the uptime
// record ("Uptime.log" and its ".old" copy) and renders the uptime report: a table, an HTML
// page and Prometheus metrics. The watchdog registers it; `snxctl report` drives it.
// IUtReportJson, a second interface of the same object found by QueryInterface, gives the
// report as JSON; a companion older than it answers E_NOINTERFACE.
// Methods stand in slot order after the seven of the dispatch base (method 1 = slot 7); texts
// go in and out as Variants; a 32-bit out value of -1 means yes.

#include <cstdint>

#include "components/component.h"

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
  // 2 (8): reads the uptime record of a folder (text, a path; the install folder). -1 = at
  // least one of "Uptime.log" and "Uptime.old" was read; else GetText says why.
  virtual HRESULT Load(Variant* folder, std::int32_t* loaded) = 0;
  // 3 (9): sets the window: since (text: "24h", "7d", "30d", a date "MM/DD/YY [HH:MM:SS]" or
  // "YYYY-MM-DD [HH:MM:SS]"; empty = 24h) and until (text: a date; empty = now). -1 = taken;
  // else the window is as before and GetText says why.
  virtual HRESULT SetWindow(Variant* since, Variant* until, std::int32_t* taken) = 0;
  // 4 (10): the report as a table for a terminal (text).
  virtual HRESULT GetTable(Variant* text) = 0;
  // 5 (11): the report as one self-contained HTML page (text).
  virtual HRESULT GetPage(Variant* html) = 0;
  // 6 (12): what the uptime record tells, as Prometheus text-format metrics (text).
  virtual HRESULT GetMetrics(Variant* text) = 0;
  // 7 (13): why the last Load or SetWindow failed; empty after a success.
  virtual HRESULT GetText(Variant* text) = 0;

 protected:
  ~IUtReport() = default;
};

class IUtReportJson : public IDispatch {
 public:
  static constexpr IID kIid = {
      0x89C237EA, 0xD22C, 0x4551, {0xB2, 0x2E, 0xB6, 0x55, 0x51, 0xBA, 0x18, 0x83}};

  // 1 (7): the report of the record loaded, over the window set (both through IUtReport), as
  // one JSON object (text; keys in docs/report.md).
  virtual HRESULT GetJson(Variant* json) = 0;

 protected:
  ~IUtReportJson() = default;
};

}  // namespace snx::platform
