#include "core/registry.h"

#include "platform/key_store.h"

using snx::platform::Keys;
using snx::platform::RegResult;
using snx::platform::RegType;
using snx::platform::RegValue;

CRegistry::~CRegistry() { CloseAll(); }

bool CRegistry::OpenPath(HKEY root, std::string_view path, HKEY& key) {
  return WalkPath(root, path, false, key);
}

bool CRegistry::CreatePath(HKEY root, std::string_view path, HKEY& key) {
  return WalkPath(root, path, true, key);
}

bool CRegistry::WalkPath(HKEY root, std::string_view path, bool create, HKEY& key) {
  key = nullptr;
  bool result = false;
  HKEY current = root;
  const int depth_at_start = Count();
  CQorStr rest(path);
  CQorStr name;
  while (true) {
    rest.SplitOff('\\', name);
    if (name.IsEmpty()) break;
    HKEY next = nullptr;
    bool opened = OpenKey(current, name, next);
    if (!opened && create) opened = Keys().CreateKey(current, name, next) == RegResult::kOk;
    if (!opened) {
      result = false;
      break;
    }
    if (!Push(next)) {  // the stack is full: a key it cannot hold would never be closed
      Keys().CloseKey(next);
      result = false;
      break;
    }
    result = true;
    current = next;
  }
  if (!result) {
    // Only the keys opened by this walk: those of an earlier walk are still the caller's.
    while (Count() > depth_at_start) Keys().CloseKey(static_cast<HKEY>(Pop()));
    return false;
  }
  key = current;
  return true;
}

void CRegistry::CloseAll() {
  while (Count() > 0) Keys().CloseKey(static_cast<HKEY>(Pop()));
}

bool CRegistry::OpenKey(HKEY parent, std::string_view name, HKEY& key) {
  return Keys().OpenKey(parent, name, key) == RegResult::kOk;
}

bool CRegistry::QueryString(HKEY key, std::string_view name, CQorStr& text) {
  RegValue value;
  if (Keys().QueryValue(key, name, value) != RegResult::kOk) return false;
  // The text and its terminator must fit the buffer, or the call fails as the registry's does.
  if (value.type != RegType::kString || value.DataSize() > kStringBufferSize) return false;
  return text.Assign(std::string_view(value.text));
}

bool CRegistry::QueryDword(HKEY key, std::string_view name, std::uint32_t& number) {
  RegValue value;
  if (Keys().QueryValue(key, name, value) != RegResult::kOk) return false;
  if (value.type != RegType::kDword) return false;
  number = value.number;
  return true;
}

bool CRegistry::SetString(HKEY key, std::string_view name, std::string_view text) {
  return Keys().SetValue(key, name, RegValue::String(text)) == RegResult::kOk;
}

bool CRegistry::SetDword(HKEY key, std::string_view name, std::uint32_t number) {
  return Keys().SetValue(key, name, RegValue::Dword(number)) == RegResult::kOk;
}
