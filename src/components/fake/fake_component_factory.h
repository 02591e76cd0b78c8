#pragma once
// A component factory for tests: classes are in-memory makers, nothing is loaded. Classes can
// belong to a plug-in file name, so that registering that file (Regsvr32 through the launcher
// or RegisterServer) writes or removes their class keys in the given key store.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "components/component_factory.h"

namespace snx::platform {

class FakeComponentFactory : public ComponentFactory {
 public:
  using Maker = std::function<IUnknown*()>;  // a new object holding one reference, or null

  // `keys` (may be null) receives the class keys when a file is registered, and is where
  // CLSIDFromProgID looks first; classes added here are found by ProgID even without keys.
  explicit FakeComponentFactory(KeyStore* keys = nullptr) : keys_(keys) {}

  // A class served from plug-in file `file` (a file name, e.g. "QorPerf.dll"; "" = none).
  void AddClass(const ClassInfo& info, Maker make, std::string_view file = "");
  // Creation of that class fails with `hr` from now on (S_OK: works again).
  void FailCreation(const CLSID& clsid, HRESULT hr);
  // Registering that file fails with `hr` (S_OK: works again).
  void FailRegistration(std::string_view file, HRESULT hr);

  int CreationCount(const CLSID& clsid) const;
  // "register X" / "unregister X" for each RegisterServer call, in order (X as given).
  std::vector<std::string> RegistrationCalls() const;

  HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** out, std::string* why) override;
  HRESULT CLSIDFromProgID(std::string_view prog_id, CLSID& out, std::string* why) override;
  HRESULT RegisterServer(std::string_view module_path, bool unregister, std::string* why) override;
  using ComponentFactory::CreateInstance;

 private:
  struct Entry {
    ClassInfo info;
    std::string prog_id;  // owned copies of the info's texts
    std::string description;
    Maker make;
    std::string file;
    HRESULT fail = S_OK;
    int created = 0;
  };
  Entry* Find(const CLSID& clsid);

  KeyStore* keys_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::map<std::string, HRESULT> failing_files_;  // folded file name -> result
  std::vector<std::string> registrations_;
};

}  // namespace snx::platform
