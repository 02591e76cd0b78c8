// The key store's model, its text form and its handles. No OS calls here: the storage lives in
// posix/key_store.cc (files) and fake/fake_key_store.cc (memory).

#include "platform/key_store.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/ascii.h"

namespace snx::platform {

RegKeyObject g_LocalMachineRootKey{RegKeyObject::kOpenMarker, RegRoot::kLocalMachine, "", true};
RegKeyObject g_ClassesRootKey{RegKeyObject::kOpenMarker, RegRoot::kClassesRoot, "", true};

namespace {

// The handles made and not yet closed. A handle is only used after it is found here, so a
// handle used after CloseKey is refused instead of being read after it was freed.
std::mutex& HandleMutex() {
  static std::mutex m;
  return m;
}
std::unordered_set<const RegKeyObject*>& LiveHandles() {
  static std::unordered_set<const RegKeyObject*> handles;
  return handles;
}

constexpr std::size_t kMaxNameLength = 255;         // one key name
constexpr std::size_t kMaxValueNameLength = 16383;  // one value name

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 32 || u == 127;
}

// The last name of a path.
std::string_view LastName(std::string_view path) {
  const auto at = path.rfind('\\');
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

// A text in double quotes, with \\, \" and \xHH for every byte outside 32..126.
void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (u < 32 || u > 126) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at the start of `in` (which begins with '"'); `in` moves past it.
bool ReadQuoted(std::string_view& in, std::string& out) {
  if (in.empty() || in[0] != '"') return false;
  out.clear();
  std::size_t i = 1;
  while (i < in.size()) {
    const char c = in[i];
    if (c == '"') {
      in.remove_prefix(i + 1);
      return true;
    }
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= in.size()) return false;
    const char e = in[i + 1];
    if (e == '\\' || e == '"') {
      out += e;
      i += 2;
    } else if (e == 'n' || e == 'r' || e == 't') {
      out += e == 'n' ? '\n' : (e == 'r' ? '\r' : '\t');
      i += 2;
    } else if (e == 'x' && i + 3 < in.size() && HexDigit(in[i + 2]) >= 0 &&
               HexDigit(in[i + 3]) >= 0) {
      const int v = HexDigit(in[i + 2]) * 16 + HexDigit(in[i + 3]);
      if (v == 0) return false;  // a registry text cannot hold NUL
      out += static_cast<char>(v);
      i += 4;
    } else {
      return false;
    }
  }
  return false;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// One value line: "name"=... or @=..., then "text" or dword:HEX.
bool ParseValueLine(std::string_view line, std::string& name, RegValue& value) {
  if (line.front() == '@') {
    name.clear();
    line.remove_prefix(1);
  } else if (!ReadQuoted(line, name)) {
    return false;
  }
  line = TrimSpaces(line);
  if (line.empty() || line.front() != '=') return false;
  line = TrimSpaces(line.substr(1));
  if (!line.empty() && line.front() == '"') {
    std::string text;
    if (!ReadQuoted(line, text) || !TrimSpaces(line).empty()) return false;
    value = RegValue::String(text);
    return true;
  }
  constexpr std::string_view kDword = "dword:";
  if (line.size() <= kDword.size() || FoldName(line.substr(0, kDword.size())) != "DWORD:") {
    return false;
  }
  line.remove_prefix(kDword.size());
  if (line.size() > 8) return false;
  std::uint32_t number = 0;
  for (char c : line) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    number = number * 16 + static_cast<std::uint32_t>(d);
  }
  value = RegValue::Dword(number);
  return true;
}

}  // namespace

const char* RegResultName(RegResult result) {
  switch (result) {
    case RegResult::kOk:
      return "ok";
    case RegResult::kNotFound:
      return "not found";
    case RegResult::kInvalid:
      return "invalid handle or name";
    case RegResult::kWrongType:
      return "value of another type";
    case RegResult::kHasSubkeys:
      return "key has subkeys";
    case RegResult::kBusy:
      return "key store is busy";
    case RegResult::kCorrupt:
      return "key store file has unreadable lines";
    case RegResult::kIoError:
      return "key store cannot be read or written";
  }
  return "unknown";
}

bool RegValue::operator==(const RegValue& other) const {
  if (type != other.type) return false;
  return type == RegType::kString ? text == other.text : number == other.number;
}

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

const char* RootName(RegRoot root) {
  return root == RegRoot::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

// ---- KeyTree ----

bool KeyTree::PathLess::operator()(const std::string& a, const std::string& b) const {
  // "\" sorts before every other byte, so "A\B" follows "A" directly.
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    if (a[i] == '\\') return true;
    if (b[i] == '\\') return false;
    return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

bool KeyTree::IsValidPath(std::string_view path) {
  if (path.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const auto at = path.find('\\', start);
    const std::string_view name =
        path.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (name.empty() || name.size() > kMaxNameLength) return false;
    if (std::any_of(name.begin(), name.end(), IsControl)) return false;
    if (at == std::string_view::npos) return true;
    start = at + 1;
  }
}

bool KeyTree::IsValidValueName(std::string_view name) {
  return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

const KeyTree::Key* KeyTree::Find(std::string_view path) const {
  if (path.empty()) return &root_;
  const auto it = keys_.find(FoldName(path));
  return it == keys_.end() ? nullptr : &it->second;
}

KeyTree::Key* KeyTree::Find(std::string_view path) {
  return const_cast<Key*>(static_cast<const KeyTree*>(this)->Find(path));
}

bool KeyTree::Create(std::string_view path, bool& created) {
  created = false;
  if (!IsValidPath(path)) return false;
  if (path.empty()) return true;
  std::size_t at = 0;
  while (true) {
    at = path.find('\\', at);
    const std::string_view prefix = path.substr(0, at);
    const auto [it, inserted] = keys_.try_emplace(FoldName(prefix));
    if (inserted) {
      it->second.path = std::string(prefix);
      created = true;
    }
    if (at == std::string_view::npos) return true;
    ++at;
  }
}

bool KeyTree::HasSubkeys(std::string_view path) const {
  if (path.empty()) return !keys_.empty();
  const std::string prefix = FoldName(path) + "\\";
  const auto it = keys_.lower_bound(prefix);
  return it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void KeyTree::Remove(std::string_view path, bool tree) {
  if (path.empty()) return;
  const std::string folded = FoldName(path);
  keys_.erase(folded);
  if (!tree) return;
  const std::string prefix = folded + "\\";
  auto it = keys_.lower_bound(prefix);
  while (it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
    it = keys_.erase(it);
  }
}

std::vector<std::string> KeyTree::SubKeyNames(std::string_view path) const {
  std::vector<std::string> names;
  const std::string prefix = path.empty() ? std::string() : FoldName(path) + "\\";
  for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->first.find('\\', prefix.size()) == std::string::npos) {
      names.emplace_back(LastName(it->second.path));
    }
  }
  return names;
}

std::string KeyTree::Serialize(RegRoot root) const {
  std::string out;
  out += "; SNXSVC key store: ";
  out += RootName(root);
  out +=
      "\n; Key and value names compare without case. Texts are quoted, with \\\\, \\\" and \\xHH"
      "\n; escapes; numbers are written dword:XXXXXXXX (hexadecimal).\n";
  auto write_key = [&out](const Key& key) {
    out += "\n[";
    out += key.path;
    out += "]\n";
    for (const auto& [name, value] : key.values) {
      if (name.empty()) {
        out += '@';
      } else {
        AppendQuoted(out, name);
      }
      out += '=';
      if (value.type == RegType::kString) {
        AppendQuoted(out, value.text);
      } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08X", static_cast<unsigned>(value.number));
        out += hex;
      }
      out += '\n';
    }
  };
  if (!root_.values.empty()) write_key(root_);
  for (const auto& [folded, key] : keys_) write_key(key);
  return out;
}

KeyTree KeyTree::Parse(std::string_view text, int& bad_lines, int& first_bad_line) {
  KeyTree tree;
  bad_lines = 0;
  first_bad_line = 0;
  Key* current = nullptr;
  int number = 0;
  auto bad = [&]() {
    if (bad_lines++ == 0) first_bad_line = number;
  };
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view raw = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    ++number;
    const std::string_view line = TrimSpaces(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') {
        bad();
        continue;
      }
      const std::string_view path = line.substr(1, line.size() - 2);
      bool created = false;
      if (!tree.Create(path, created)) {
        bad();
        continue;
      }
      current = tree.Find(path);
      continue;
    }
    std::string name;
    RegValue value;
    if (current == nullptr || !ParseValueLine(line, name, value)) {
      bad();
      continue;
    }
    const std::string folded = FoldName(name);
    auto it = std::find_if(current->values.begin(), current->values.end(),
                           [&](const auto& v) { return FoldName(v.first) == folded; });
    if (it != current->values.end()) {
      it->second = value;
    } else {
      current->values.emplace_back(std::move(name), std::move(value));
    }
  }
  return tree;
}

// ---- KeyStore ----

int KeyStore::OpenHandleCount() {
  std::lock_guard<std::mutex> lock(HandleMutex());
  return static_cast<int>(LiveHandles().size());
}

bool KeyStore::IsUsable(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) return true;
  std::lock_guard<std::mutex> lock(HandleMutex());
  return key != nullptr && LiveHandles().count(key) != 0 &&
         key->marker == RegKeyObject::kOpenMarker;
}

std::string KeyStore::Join(std::string_view parent, std::string_view subkey) {
  if (subkey.empty()) return std::string(parent);
  if (parent.empty()) return std::string(subkey);
  std::string path(parent);
  path += '\\';
  path += subkey;
  return path;
}

HKEY KeyStore::NewHandle(RegRoot root, std::string path) {
  auto key = std::make_unique<RegKeyObject>();
  key->root = root;
  key->path = std::move(path);
  std::lock_guard<std::mutex> lock(HandleMutex());
  LiveHandles().insert(key.get());
  return key.release();
}

RegResult KeyStore::OpenKey(HKEY parent, std::string_view subkey, HKEY& out) {
  out = nullptr;
  if (!IsUsable(parent)) return RegResult::kInvalid;
  std::string path = Join(parent->path, subkey);
  if (!KeyTree::IsValidPath(path)) return RegResult::kInvalid;
  KeyTree tree;
  const RegResult read = Read(parent->root, tree);
  if (read != RegResult::kOk) return read;
  const KeyTree::Key* key = tree.Find(path);
  if (key == nullptr) return RegResult::kNotFound;
  out = NewHandle(parent->root, std::move(path));
  return RegResult::kOk;
}

RegResult KeyStore::CreateKey(HKEY parent, std::string_view subkey, HKEY& out) {
  out = nullptr;
  if (!IsUsable(parent)) return RegResult::kInvalid;
  std::string path = Join(parent->path, subkey);
  if (!KeyTree::IsValidPath(path)) return RegResult::kInvalid;
  const RegResult result = Modify(parent->root, [&path](KeyTree& tree, bool& changed) {
    return tree.Create(path, changed) ? RegResult::kOk : RegResult::kInvalid;
  });
  if (result != RegResult::kOk) return result;
  out = NewHandle(parent->root, std::move(path));
  return RegResult::kOk;
}

RegResult KeyStore::CloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) return RegResult::kOk;
  std::unique_ptr<RegKeyObject> owned;
  {
    std::lock_guard<std::mutex> lock(HandleMutex());
    if (key == nullptr || LiveHandles().erase(key) == 0) return RegResult::kInvalid;
    owned.reset(key);
  }
  owned->marker = 0;
  return RegResult::kOk;
}

RegResult KeyStore::QueryValue(HKEY key, std::string_view name, RegValue& out) {
  if (!IsUsable(key) || !KeyTree::IsValidValueName(name)) return RegResult::kInvalid;
  KeyTree tree;
  const RegResult read = Read(key->root, tree);
  if (read != RegResult::kOk) return read;
  const KeyTree::Key* k = tree.Find(key->path);
  if (k == nullptr) return RegResult::kNotFound;
  const std::string folded = FoldName(name);
  for (const auto& [n, value] : k->values) {
    if (FoldName(n) == folded) {
      out = value;
      return RegResult::kOk;
    }
  }
  return RegResult::kNotFound;
}

RegResult KeyStore::SetValue(HKEY key, std::string_view name, const RegValue& value) {
  if (!IsUsable(key) || !KeyTree::IsValidValueName(name)) return RegResult::kInvalid;
  if (value.type == RegType::kString && value.text.find('\0') != std::string::npos) {
    return RegResult::kInvalid;
  }
  const std::string path = key->path;
  return Modify(key->root, [&](KeyTree& tree, bool& changed) {
    KeyTree::Key* k = tree.Find(path);
    if (k == nullptr) return RegResult::kNotFound;
    const std::string folded = FoldName(name);
    for (auto& [n, v] : k->values) {
      if (FoldName(n) != folded) continue;
      changed = !(v == value);
      v = value;
      return RegResult::kOk;
    }
    k->values.emplace_back(std::string(name), value);
    changed = true;
    return RegResult::kOk;
  });
}

RegResult KeyStore::DeleteValue(HKEY key, std::string_view name) {
  if (!IsUsable(key) || !KeyTree::IsValidValueName(name)) return RegResult::kInvalid;
  const std::string path = key->path;
  return Modify(key->root, [&](KeyTree& tree, bool& changed) {
    KeyTree::Key* k = tree.Find(path);
    if (k == nullptr) return RegResult::kNotFound;
    const std::string folded = FoldName(name);
    const auto it = std::find_if(k->values.begin(), k->values.end(),
                                 [&](const auto& v) { return FoldName(v.first) == folded; });
    if (it == k->values.end()) return RegResult::kNotFound;
    k->values.erase(it);
    changed = true;
    return RegResult::kOk;
  });
}

RegResult KeyStore::DeleteKey(HKEY parent, std::string_view subkey) {
  if (!IsUsable(parent)) return RegResult::kInvalid;
  const std::string path = Join(parent->path, subkey);
  if (path.empty() || !KeyTree::IsValidPath(path)) return RegResult::kInvalid;
  return Modify(parent->root, [&](KeyTree& tree, bool& changed) {
    if (tree.Find(path) == nullptr) return RegResult::kNotFound;
    if (tree.HasSubkeys(path)) return RegResult::kHasSubkeys;
    tree.Remove(path, false);
    changed = true;
    return RegResult::kOk;
  });
}

RegResult KeyStore::DeleteTree(HKEY parent, std::string_view subkey) {
  if (!IsUsable(parent)) return RegResult::kInvalid;
  const std::string path = Join(parent->path, subkey);
  if (path.empty() || !KeyTree::IsValidPath(path)) return RegResult::kInvalid;
  return Modify(parent->root, [&](KeyTree& tree, bool& changed) {
    if (tree.Find(path) == nullptr) return RegResult::kNotFound;
    tree.Remove(path, true);
    changed = true;
    return RegResult::kOk;
  });
}

RegResult KeyStore::SubKeyNames(HKEY key, std::vector<std::string>& names) {
  names.clear();
  if (!IsUsable(key)) return RegResult::kInvalid;
  KeyTree tree;
  const RegResult read = Read(key->root, tree);
  if (read != RegResult::kOk) return read;
  if (tree.Find(key->path) == nullptr) return RegResult::kNotFound;
  names = tree.SubKeyNames(key->path);
  return RegResult::kOk;
}

RegResult KeyStore::ValueNames(HKEY key, std::vector<std::string>& names) {
  names.clear();
  if (!IsUsable(key)) return RegResult::kInvalid;
  KeyTree tree;
  const RegResult read = Read(key->root, tree);
  if (read != RegResult::kOk) return read;
  const KeyTree::Key* k = tree.Find(key->path);
  if (k == nullptr) return RegResult::kNotFound;
  for (const auto& v : k->values) names.push_back(v.first);
  return RegResult::kOk;
}

}  // namespace snx::platform
