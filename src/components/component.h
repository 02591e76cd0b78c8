#pragma once
// The component layer: what the watchdog and its companions share at the boundary between
// them. A companion is a plug-in (a shared object in the install folder, e.g. "QorPerf.dll")
// that exports a class factory and a register / unregister entry; its objects are reached
// through interfaces that are C++ abstract classes laid out slot by slot:
//
//   slot 0 QueryInterface, 1 AddRef, 2 Release           (IUnknown)
//   slot 3 GetTypeInfoCount, 4 GetTypeInfo, 5 GetIDsOfNames, 6 Invoke   (IDispatch)
//   slot 7 the interface's own method 1, slot 8 method 2, ...
//
// The interfaces have no virtual destructor (it would take slots); objects end through Release.
// Values cross the boundary as Variant (text, 32-bit integer, boolean -1/0) and Bstr (text).
// Both sides are built by this project with one compiler and one standard library, so standard
// types may cross the boundary.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace snx::platform {

// ---- results -----------------------------------------------------------------------------

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
// The plug-in file is missing, cannot be loaded, or lacks an entry point.
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
// The register / unregister entry reported a failure.
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Any server context (in-process, handler, local, remote): what the watchdog's clients ask for.
inline constexpr std::uint32_t CLSCTX_ALL = 23;

// ---- identifiers -------------------------------------------------------------------------

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  constexpr bool operator==(const GUID& other) const {
    if (Data1 != other.Data1 || Data2 != other.Data2 || Data3 != other.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (Data4[i] != other.Data4[i]) return false;
    }
    return true;
  }
};
using CLSID = GUID;
using IID = GUID;

// "{4D712D04-D64C-467F-8994-4A4AA845BED9}": braces, upper-case hex, as the class keys hold it.
std::string GuidToString(const GUID& guid);
// Reads that form (braces required, hex of either case); nullopt for anything else.
std::optional<GUID> GuidFromString(std::string_view text);

// ---- values ------------------------------------------------------------------------------

using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// A text at the boundary. Single-byte text; it may hold any byte except that the receiving side
// treats the first NUL as the end where it converts to a C string.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view text) : text_(text) {}
  const std::string& Text() const { return text_; }
  std::size_t Length() const { return text_.size(); }
  bool Empty() const { return text_.empty(); }
  bool operator==(const Bstr& other) const = default;

 private:
  std::string text_;
};

enum VARTYPE : std::uint16_t { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11 };

// A value of one of the kinds the boundary carries. Reading a value as another kind gives the
// neutral value of that kind (0, false, empty text).
class Variant {
 public:
  Variant() = default;
  static Variant Text(std::string_view text);
  static Variant Int(std::int32_t value);
  static Variant Bool(bool value);

  VARTYPE Type() const { return vt_; }
  bool IsText() const { return vt_ == VT_BSTR; }
  bool IsInt() const { return vt_ == VT_I4; }
  bool IsBool() const { return vt_ == VT_BOOL; }

  const std::string& TextValue() const;  // empty unless VT_BSTR
  std::int32_t IntValue() const;         // 0 unless VT_I4
  VARIANT_BOOL BoolValue() const;        // VARIANT_FALSE unless VT_BOOL
  // The integer a caller meant: VT_I4 as it is, VT_BOOL as -1/0, a VT_BSTR that is a whole
  // decimal number as that number; nullopt otherwise.
  std::optional<std::int32_t> AsInt() const;

  void Clear() { *this = Variant(); }
  bool operator==(const Variant& other) const = default;

 private:
  VARTYPE vt_ = VT_EMPTY;
  std::int32_t int_ = 0;
  VARIANT_BOOL bool_ = VARIANT_FALSE;
  Bstr text_;
};
using VARIANT = Variant;

// ---- the base interfaces ------------------------------------------------------------------

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
 public:
  // On success `out` holds the interface with one reference added; on failure it is null.
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  // Both return the count after the change.
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The four slots of the dispatch base. The watchdog calls the interfaces' own methods
// directly, never through Invoke; the companions answer E_NOTIMPL here.
class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(std::uint32_t index, std::uint32_t locale, void** info) = 0;
  virtual HRESULT GetIDsOfNames(const IID& iid, const char* const* names, std::uint32_t count,
                                std::uint32_t locale, std::int32_t* ids) = 0;
  virtual HRESULT Invoke(std::int32_t id, const IID& iid, std::uint32_t locale, std::uint16_t flags,
                         void* params, Variant* result, void* exception,
                         std::uint32_t* bad_argument) = 0;

 protected:
  ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
 public:
  // `outer` must be null (no aggregation).
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// ---- an owned reference ------------------------------------------------------------------

// Holds one reference to an interface and releases it when it goes.
template <class I>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr Attach(I* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  // Gives up the reference without releasing it.
  I* Detach() { return std::exchange(p_, nullptr); }
  I* Get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: releases what is held and hands out the slot.
  void** PutVoid() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  I* p_ = nullptr;
};

}  // namespace snx::platform
