#include "components/fake/fake_component_factory.h"

#include "components/component_object.h"
#include "platform/key_store.h"

namespace snx::platform {

namespace {
// The file name of a path text, folded, for comparing plug-in names.
std::string FileKey(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return FoldName(cut == std::string_view::npos ? path : path.substr(cut + 1));
}
}  // namespace

void FakeComponentFactory::AddClass(const ClassInfo& info, Maker make, std::string_view file) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry e;
  e.prog_id = info.prog_id;
  e.description = info.description;
  e.info = info;
  e.make = std::move(make);
  e.file = FileKey(file);
  entries_.push_back(std::move(e));
  // The texts of `info` point into the entry's own copies.
  for (auto& entry : entries_) {
    entry.info.prog_id = entry.prog_id.c_str();
    entry.info.description = entry.description.c_str();
  }
}

void FakeComponentFactory::FailCreation(const CLSID& clsid, HRESULT hr) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* e = Find(clsid)) e->fail = hr;
}

void FakeComponentFactory::FailRegistration(std::string_view file, HRESULT hr) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_files_[FileKey(file)] = hr;
}

int FakeComponentFactory::CreationCount(const CLSID& clsid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& e : entries_) {
    if (e.info.clsid == clsid) return e.created;
  }
  return 0;
}

std::vector<std::string> FakeComponentFactory::RegistrationCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_;
}

FakeComponentFactory::Entry* FakeComponentFactory::Find(const CLSID& clsid) {
  for (auto& e : entries_) {
    if (e.info.clsid == clsid) return &e;
  }
  return nullptr;
}

HRESULT FakeComponentFactory::CreateInstance(const CLSID& clsid, const IID& iid, void** out,
                                             std::string* why) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  Maker make;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry* e = Find(clsid);
    if (e == nullptr || e->fail != S_OK) {
      if (why != nullptr) *why = "class " + GuidToString(clsid) + " cannot be made";
      return e == nullptr ? REGDB_E_CLASSNOTREG : e->fail;
    }
    ++e->created;
    make = e->make;
  }
  return HandOver(make ? make() : nullptr, iid, out);
}

HRESULT FakeComponentFactory::CLSIDFromProgID(std::string_view prog_id, CLSID& out,
                                              std::string* why) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : entries_) {
      if (FoldName(e.prog_id) == FoldName(prog_id) ||
          FoldName(e.prog_id + ".1") == FoldName(prog_id)) {
        out = e.info.clsid;
        return S_OK;
      }
    }
  }
  if (why != nullptr) *why = std::string(prog_id) + " is not registered";
  return CO_E_CLASSSTRING;
}

HRESULT FakeComponentFactory::RegisterServer(std::string_view module_path, bool unregister,
                                             std::string* why) {
  std::lock_guard<std::mutex> lock(mutex_);
  registrations_.push_back((unregister ? "unregister " : "register ") + std::string(module_path));
  const std::string file = FileKey(module_path);
  if (const auto it = failing_files_.find(file); it != failing_files_.end() && it->second != S_OK) {
    if (why != nullptr) *why = std::string(module_path) + " refused";
    return it->second;
  }
  bool any = false;
  HRESULT result = S_OK;
  for (const auto& e : entries_) {
    if (e.file.empty() || e.file != file) continue;
    any = true;
    if (keys_ == nullptr) continue;
    const HRESULT hr = unregister ? UnregisterClassKeys(*keys_, e.info)
                                  : RegisterClassKeys(*keys_, e.info, module_path);
    if (FAILED(hr)) result = hr;
  }
  if (!any) {
    if (why != nullptr) *why = "cannot find file: " + std::string(module_path);
    return CO_E_DLLNOTFOUND;
  }
  return result;
}

}  // namespace snx::platform
