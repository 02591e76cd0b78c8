#include "components/component.h"

#include <charconv>
#include <cstdio>

#include "components/component_factory.h"
#include "components/component_object.h"

namespace snx::platform {

std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {
// Reads exactly `digits` hex digits at `at`.
bool Hex(std::string_view text, std::size_t at, int digits, std::uint32_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[at + i];
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return false;
    }
    out = out * 16 + static_cast<std::uint32_t>(v);
  }
  return true;
}
}  // namespace

std::optional<GUID> GuidFromString(std::string_view t) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' ||
      t[19] != '-' || t[24] != '-') {
    return std::nullopt;
  }
  GUID g;
  std::uint32_t v;
  if (!Hex(t, 1, 8, g.Data1)) return std::nullopt;
  if (!Hex(t, 10, 4, v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!Hex(t, 15, 4, v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  static constexpr std::size_t kBytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!Hex(t, kBytes[i], 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

Variant Variant::Text(std::string_view text) {
  Variant v;
  v.vt_ = VT_BSTR;
  v.text_ = Bstr(text);
  return v;
}

Variant Variant::Int(std::int32_t value) {
  Variant v;
  v.vt_ = VT_I4;
  v.int_ = value;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.vt_ = VT_BOOL;
  v.bool_ = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

const std::string& Variant::TextValue() const {
  static const std::string kEmpty;
  return vt_ == VT_BSTR ? text_.Text() : kEmpty;
}

std::int32_t Variant::IntValue() const { return vt_ == VT_I4 ? int_ : 0; }

VARIANT_BOOL Variant::BoolValue() const { return vt_ == VT_BOOL ? bool_ : VARIANT_FALSE; }

std::optional<std::int32_t> Variant::AsInt() const {
  switch (vt_) {
    case VT_I4:
      return int_;
    case VT_BOOL:
      return bool_ != VARIANT_FALSE ? -1 : 0;
    case VT_BSTR: {
      const std::string& s = text_.Text();
      std::int32_t n = 0;
      const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
      if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
      return n;
    }
    default:
      return std::nullopt;
  }
}

std::atomic<long>& ModuleObjectCount() {
  static std::atomic<long> count{0};
  return count;
}

HRESULT ClassFactory::QueryInterface(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

std::uint32_t ClassFactory::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

std::uint32_t ClassFactory::Release() {
  const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return HandOver(make_ ? make_() : nullptr, iid, out);
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ModuleObjectCount().fetch_add(1, std::memory_order_relaxed);
  } else {
    ModuleObjectCount().fetch_sub(1, std::memory_order_relaxed);
  }
  return S_OK;
}

HRESULT HandOver(IUnknown* object, const IID& iid, void** out) {
  if (out == nullptr) {
    if (object != nullptr) object->Release();
    return E_POINTER;
  }
  *out = nullptr;
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT ComponentFactory::CreateByProgID(std::string_view prog_id, const IID& iid, void** out,
                                         std::string* why) {
  if (out != nullptr) *out = nullptr;
  CLSID clsid;
  const HRESULT hr = CLSIDFromProgID(prog_id, clsid, why);
  if (FAILED(hr)) return hr;
  return CreateInstance(clsid, iid, out, why);
}

int ComponentFactory::RegisterPlugin(std::string_view module_path, bool unregister,
                                     std::string* why) {
  const HRESULT hr = RegisterServer(module_path, unregister, why);
  return SUCCEEDED(hr) ? 0 : hr == CO_E_DLLNOTFOUND ? 3 : hr == CO_E_ERRORINDLL ? 4 : 5;
}

}  // namespace snx::platform
