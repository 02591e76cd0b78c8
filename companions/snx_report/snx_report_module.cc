// SnxReport.dll: the report companion "SnxReport.UtReport". The watchdog only registers it;
// its object describes itself.

#include <vector>

#include "platform/component_factory.h"
#include "platform/component_object.h"
#include "platform/ut_report_interface.h"

namespace {

using namespace snx::platform;

class CUtReport final : public ComObject<IUtReport> {
 public:
  HRESULT Describe(Variant* text) override {
    if (text == nullptr) return E_POINTER;
    *text = Variant::Text("SnxReport.UtReport: uptime reports are read from the Uptime log.");
    return S_OK;
  }
};

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> classes = {
      {CLSID_UtReport, kUtReportProgId, "SnxReport UtReport"}};
  return classes;
}

IUnknown* NewObjectOf(const CLSID& clsid) {
  return clsid == CLSID_UtReport ? new (std::nothrow) CUtReport() : nullptr;
}

}  // namespace

SNX_PLUGIN_ENTRIES(Classes())
