// SnxReport.dll: the report companion "SnxReport.UtReport". It reads the uptime record of a
// folder and renders the uptime report over a window (see docs/report.md). The same object
// offers IUtReportJson, the report as JSON.

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "components/component_factory.h"
#include "components/component_object.h"
#include "components/ut_report_interface.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "uptime_json.h"
#include "uptime_metrics.h"
#include "uptime_report.h"

namespace {

using namespace snx::platform;
using namespace snx::report;

constexpr const char* kDefaultSince = "24h";

class CUtReport final : public ComObject<IUtReport, IUtReportJson> {
 public:
  HRESULT Describe(Variant* text) override {
    if (text == nullptr) return E_POINTER;
    *text = Variant::Text(
        "SnxReport.UtReport: availability, outages and timelines from the Uptime log.");
    return S_OK;
  }

  HRESULT Load(Variant* folder, std::int32_t* loaded) override {
    if (folder == nullptr || loaded == nullptr) return E_POINTER;
    *loaded =
        ReadUptimeRecord(Use<FileSystem>(), scale_, folder->TextValue(), record_, why_) ? -1 : 0;
    if (*loaded == -1) why_.clear();
    return S_OK;
  }

  HRESULT SetWindow(Variant* since, Variant* until, std::int32_t* taken) override {
    if (since == nullptr || until == nullptr || taken == nullptr) return E_POINTER;
    *taken = 0;
    const std::string since_text = since->TextValue().empty() ? kDefaultSince : since->TextValue();
    if (!WindowOf(scale_, since_text, until->TextValue(), why_)) return S_OK;
    since_ = since_text;
    until_ = until->TextValue();
    why_.clear();
    *taken = -1;
    return S_OK;
  }

  HRESULT GetTable(Variant* text) override { return Render(text, RenderTable); }
  HRESULT GetPage(Variant* html) override { return Render(html, RenderPage); }
  HRESULT GetJson(Variant* json) override {
    return Render(json,
                  [](const UptimeReport& report, LocalTimeScale&) { return RenderJson(report); });
  }

  HRESULT GetMetrics(Variant* text) override {
    if (text == nullptr) return E_POINTER;
    *text = Variant::Text(snx::metrics::FormatMetrics(MetricsFromRecord(record_)));
    return S_OK;
  }

  HRESULT GetText(Variant* text) override {
    if (text == nullptr) return E_POINTER;
    *text = Variant::Text(why_);
    return S_OK;
  }

 private:
  HRESULT Render(Variant* out, std::string (*render)(const UptimeReport&, LocalTimeScale&)) {
    if (out == nullptr) return E_POINTER;
    const std::optional<Window> window = WindowOf(scale_, since_, until_, why_);
    if (!window) return E_FAIL;  // only when "now" moved before a given since
    *out = Variant::Text(render(BuildReport(record_, *window, scale_.Now()), scale_));
    return S_OK;
  }

  LocalTimeScale scale_{Use<Clock>()};
  UptimeRecord record_;
  std::string since_ = kDefaultSince;
  std::string until_;
  std::string why_;
};

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> classes = {
      {CLSID_UtReport, kUtReportProgId, "SnxReport UtReport"}};
  return classes;
}

IUnknown* NewObjectOf(const CLSID& clsid) {
  return clsid == CLSID_UtReport ? static_cast<IUtReport*>(new (std::nothrow) CUtReport())
                                 : nullptr;
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())
