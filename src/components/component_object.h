#pragma once
// Building blocks for the objects behind the interfaces: the reference count, QueryInterface
// and the dispatch slots, and a class factory. The companions and the in-memory fakes of tests
// use them alike.
//
//   class CWatcher final : public snx::platform::ComObject<IWatcher> { ... };
//   class CUtReport final : public snx::platform::ComObject<IUtReport, IUtReportJson> { ... };
//
// An interface used with ComObject names its identifier as a static member `kIid`. The first
// interface also answers for IUnknown and IDispatch; the others are found by QueryInterface, so
// a later interface can be offered without changing the slots of an earlier one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <new>

#include "components/component.h"

namespace snx::platform {

// Objects alive in this module (the plug-in or the program): a plug-in may be unloaded only
// when it is zero. Counted by ComObject and by ClassFactory's LockServer.
std::atomic<long>& ModuleObjectCount();

// Implements IUnknown and IDispatch for the interfaces `I` and `More` (each derives from
// IDispatch). Created with one reference held by the creator; deletes itself when the count
// reaches 0.
template <class I, class... More>
class ComObject : public I, public More... {
 public:
  ComObject() { ModuleObjectCount().fetch_add(1, std::memory_order_relaxed); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<I*>(this);
    } else if (!(Offer<I>(iid, out) || ... || Offer<More>(iid, out))) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  std::uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  std::uint32_t RefCount() const { return refs_.load(std::memory_order_relaxed); }

  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t, std::uint32_t, void** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(const IID&, const char* const*, std::uint32_t, std::uint32_t,
                        std::int32_t*) override {
    return E_NOTIMPL;
  }
  HRESULT Invoke(std::int32_t, const IID&, std::uint32_t, std::uint16_t, void*, Variant*, void*,
                 std::uint32_t*) override {
    return E_NOTIMPL;
  }

 protected:
  virtual ~ComObject() { ModuleObjectCount().fetch_sub(1, std::memory_order_relaxed); }

 private:
  template <class J>
  bool Offer(const IID& iid, void** out) {
    if (!(iid == J::kIid)) return false;
    *out = static_cast<J*>(this);
    return true;
  }

  std::atomic<std::uint32_t> refs_{1};
};

// A class factory whose objects come from `make` (which returns a new object holding one
// reference, or null when it cannot be made).
class ClassFactory final : public IClassFactory {
 public:
  using Maker = std::function<IUnknown*()>;
  // Returns a new factory holding one reference.
  static ClassFactory* New(Maker make) { return new (std::nothrow) ClassFactory(std::move(make)); }

  HRESULT QueryInterface(const IID& iid, void** out) override;
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override;
  HRESULT LockServer(bool lock) override;

 private:
  explicit ClassFactory(Maker make) : make_(std::move(make)) {}
  ~ClassFactory() = default;
  Maker make_;
  std::atomic<std::uint32_t> refs_{1};
};

// Asks `object` for `iid` into `out` and drops the creator's reference: the usual last step of
// making an object. `object` may be null (then E_OUTOFMEMORY).
HRESULT HandOver(IUnknown* object, const IID& iid, void** out);

}  // namespace snx::platform
