#pragma once
// The registry of the system, kept as a key store: two roots (HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT), a tree of keys under each root, and string (REG_SZ) and 32-bit
// (REG_DWORD) values in the keys.
//
// Key names and value names compare without case (only a-z fold onto A-Z) and keep the case
// they were created with. A key path is a text of names separated by "\"; an empty name inside
// a path is not allowed.
//
// The store hands out key handles (HKEY). A handle names a key by root and path; it is made by
// OpenKey or CreateKey and must be given back with CloseKey, which frees it. The two roots are
// predefined handles that are never freed. Every operation reads the store afresh, so a change
// made by another process is seen at once; every change is made under a lock and stored
// atomically, so two processes never lose each other's writes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/installed.h"

namespace snx::platform {

enum class RegRoot { kLocalMachine, kClassesRoot };

enum class RegType { kString, kDword };  // REG_SZ, REG_DWORD

enum class RegResult {
  kOk,
  kNotFound,    // no such key or value
  kInvalid,     // bad handle, bad name or bad path
  kWrongType,   // the value exists with the other type
  kHasSubkeys,  // DeleteKey of a key that still has subkeys
  kBusy,        // the store's lock could not be had in time
  kCorrupt,     // the stored text has lines that cannot be read; it is left as it is
  kIoError,     // the store could not be read or written
};

const char* RegResultName(RegResult result);

struct RegValue {
  RegType type = RegType::kString;
  std::string text;          // REG_SZ: the text, without its terminator (never holds NUL)
  std::uint32_t number = 0;  // REG_DWORD

  static RegValue String(std::string_view text) { return {RegType::kString, std::string(text), 0}; }
  static RegValue Dword(std::uint32_t number) { return {RegType::kDword, std::string(), number}; }
  // Bytes of the value's data as the registry counts them: the text with its terminator, or 4.
  std::size_t DataSize() const { return type == RegType::kString ? text.size() + 1 : 4; }
  bool operator==(const RegValue& other) const;
};

// An open key: what a handle points to. Code outside the key store treats it as opaque.
struct RegKeyObject {
  static constexpr std::uint32_t kOpenMarker = 0x4B455931;  // a live handle
  std::uint32_t marker = kOpenMarker;
  RegRoot root = RegRoot::kLocalMachine;
  std::string path;  // names joined by "\"; "" for the root itself
  bool predefined = false;
};
using HKEY = RegKeyObject*;

extern RegKeyObject g_LocalMachineRootKey;
extern RegKeyObject g_ClassesRootKey;
inline constexpr HKEY HKEY_LOCAL_MACHINE = &g_LocalMachineRootKey;
inline constexpr HKEY HKEY_CLASSES_ROOT = &g_ClassesRootKey;

// Folds a-z onto A-Z; the form in which names are compared.
std::string FoldName(std::string_view name);
// The root's name as the registry writes it ("HKEY_LOCAL_MACHINE").
const char* RootName(RegRoot root);

// The keys and values of one root, in memory, with the text form the store keeps on disk.
class KeyTree {
 public:
  struct Key {
    std::string path;                                      // as created
    std::vector<std::pair<std::string, RegValue>> values;  // in the order they were made
  };

  // The key of that path, or null. The root ("") always exists.
  const Key* Find(std::string_view path) const;
  Key* Find(std::string_view path);
  // Makes the key and any missing parents. False (and nothing made) for a bad path.
  bool Create(std::string_view path, bool& created);
  bool HasSubkeys(std::string_view path) const;
  // Removes the key; with `tree` also every key below it.
  void Remove(std::string_view path, bool tree);
  std::vector<std::string> SubKeyNames(std::string_view path) const;
  std::size_t KeyCount() const { return keys_.size(); }

  // The readable text of the root's keys (a header comment, then one "[path]" block per key).
  std::string Serialize(RegRoot root) const;
  // Reads a text made by Serialize (or edited by hand). Lines that cannot be read are skipped
  // and counted in `bad_lines`; the first of them is `first_bad_line` (counting from 1).
  static KeyTree Parse(std::string_view text, int& bad_lines, int& first_bad_line);

  // True for a path of non-empty names without control characters; "" (the root) is valid.
  static bool IsValidPath(std::string_view path);
  static bool IsValidValueName(std::string_view name);

 private:
  // Orders by folded path, name by name, so that a key's subkeys follow it.
  struct PathLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, Key, PathLess> keys_;  // keyed by the folded path; never holds ""
  Key root_;
};

// The facility. The operations mirror the registry calls the system makes; the storage is left
// to the implementation (a file per root on Linux, memory in the fake).
class KeyStore {
 public:
  virtual ~KeyStore() = default;

  // Opens an existing key below `parent`; `subkey` may hold several names ("A\B"); "" opens the
  // parent again. On success `out` is a new handle; on failure it is null.
  RegResult OpenKey(HKEY parent, std::string_view subkey, HKEY& out);
  // As OpenKey, but missing keys on the way are created.
  RegResult CreateKey(HKEY parent, std::string_view subkey, HKEY& out);
  // Frees a handle made by OpenKey or CreateKey; the predefined roots are left alone.
  RegResult CloseKey(HKEY key);

  RegResult QueryValue(HKEY key, std::string_view name, RegValue& out);
  RegResult SetValue(HKEY key, std::string_view name, const RegValue& value);
  RegResult DeleteValue(HKEY key, std::string_view name);
  // Deletes a key that has no subkeys.
  RegResult DeleteKey(HKEY parent, std::string_view subkey);
  // Deletes a key with everything below it.
  RegResult DeleteTree(HKEY parent, std::string_view subkey);
  RegResult SubKeyNames(HKEY key, std::vector<std::string>& names);
  RegResult ValueNames(HKEY key, std::vector<std::string>& names);

  // Handles made and not yet closed, in this process (for leak checks).
  static int OpenHandleCount();

 protected:
  // A snapshot of the root's keys.
  virtual RegResult Read(RegRoot root, KeyTree& tree) = 0;
  // Runs `change` on the current keys of the root while no other writer can run, and stores
  // the keys when it returns kOk with `changed` set.
  using Change = std::function<RegResult(KeyTree& tree, bool& changed)>;
  virtual RegResult Modify(RegRoot root, const Change& change) = 0;

 private:
  static bool IsUsable(HKEY key);
  static std::string Join(std::string_view parent, std::string_view subkey);
  static HKEY NewHandle(RegRoot root, std::string path);
};

template <>
KeyStore& DefaultFacility<KeyStore>();

inline KeyStore& Keys() { return Use<KeyStore>(); }

}  // namespace snx::platform
