#pragma once
// CRegistry: opens a chain of registry keys from a path such as "SOFTWARE\Qorvex\Sentinex"
// under a root key, keeps every key it opened on its own stack (the deepest on top), and closes
// them all in one call. A few static operations read and write string and 32-bit values.
//
// Every flag is true exactly when the key store call succeeded; nothing is written to the log
// here, the callers write their own lines.

#include <cstdint>
#include <string_view>

#include "core/pointer_stack.h"
#include "core/qor_str.h"
#include "platform/key_store.h"

using HKEY = snx::platform::HKEY;
inline constexpr HKEY HKEY_LOCAL_MACHINE = snx::platform::HKEY_LOCAL_MACHINE;
inline constexpr HKEY HKEY_CLASSES_ROOT = snx::platform::HKEY_CLASSES_ROOT;

class CRegistry : public CPointerStack {
 public:
  // QueryString reads at most this many bytes, the terminator included.
  static constexpr int kStringBufferSize = 260;

  CRegistry() = default;
  // Closes the keys that are still open, so that none is ever lost.
  ~CRegistry() override;

  // Opens the keys of `path` one after the other, from `root`. On success `key` is the deepest
  // and every key opened stays on the stack until CloseAll; on failure the keys this call opened
  // are closed again and `key` is null. An empty name (empty path, trailing or doubled "\")
  // ends the walk.
  bool OpenPath(HKEY root, std::string_view path, HKEY& key);
  // As OpenPath, but a key that cannot be opened is created.
  bool CreatePath(HKEY root, std::string_view path, HKEY& key);
  // Pops every key and closes it, the deepest first.
  void CloseAll();

  static bool OpenKey(HKEY parent, std::string_view name, HKEY& key);
  static bool QueryString(HKEY key, std::string_view name, CQorStr& text);
  static bool QueryDword(HKEY key, std::string_view name, std::uint32_t& number);
  static bool SetString(HKEY key, std::string_view name, std::string_view text);
  static bool SetDword(HKEY key, std::string_view name, std::uint32_t number);

 private:
  bool WalkPath(HKEY root, std::string_view path, bool create, HKEY& key);
};
