#pragma once
// CRamFileRO: the whole settings file held in memory as a list of plain-text lines. It
// deciphers the file when it loads it, answers key lookups in "[KEYS]", hands out the lines of
// the list sections one by one, changes or adds keys, and enciphers the whole list back into
// the file when asked to save.
//
// File layout (after deciphering): a section starts at a header line such as "[URLS]" (the
// whole trimmed line compared without case) and runs to the next line that holds "[" anywhere,
// or to the end of the file. In "[KEYS]" a line is a key, "=" and a value.
//
// The image has one cursor, shared by every reader: a walk with FirstLineOfSection and
// NextLineOfSection must not be interleaved with GetKey, SetKey or another walk. Returned texts
// stay valid until the next call of the same operation.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/pointer_list.h"
#include "core/qor_object.h"
#include "core/qor_str.h"
#include "files/crypto_txtfile.h"

class CRamFileRO : public CQorObject {
 public:
  static constexpr const char* kKeysSection = "[KEYS]";
  // A settings file of a few hundred lines is a few dozen kilobytes; a file larger than this
  // is not a settings file and is refused rather than read into memory.
  static constexpr std::int64_t kMaxFileBytes = 1 << 20;

  CRamFileRO();
  CRamFileRO(const CRamFileRO&) = delete;
  CRamFileRO& operator=(const CRamFileRO&) = delete;
  ~CRamFileRO() override;

  // Joins the folder and the file name with one "\" ("/" counts as a separator too) and loads
  // the file, unless the image already holds lines.
  bool Initialize(std::string_view directory, std::string_view name);
  // As Initialize, but the image takes these lines instead of reading the file (a tool that
  // writes a whole new settings file uses it); nothing is written until SaveToFile.
  bool InitializeWithLines(std::string_view directory, std::string_view name,
                           const std::vector<std::string>& lines);
  bool IsLive() override;

  // Reads the file into the image (replacing what it held). A missing file is created empty,
  // readable by its owner only; a file that exists but cannot be read fails the load and is
  // left alone.
  bool LoadToRam();
  // Writes every non-empty line, enciphered, to a new file beside the settings file, syncs it
  // and renames it over the old one (ReplaceFileWith): a failed save or a power loss leaves the
  // old file as it was. A save alone may overwrite a change another process made since this
  // image was loaded: a read-modify-write goes through Update.
  bool SaveToFile();
  // The one safe read-modify-write of the settings file: under the file's update lock (shared
  // with every other process, "AutoSet.caf.lock" beside it) the image is loaded afresh (a
  // missing file reads as empty and is not made), `change` is run on it, and a changed image
  // is saved before the lock is let go. False when the lock, the load, the change or the save
  // fails; the file is then as it was. `settled`, when given, runs last, still under the lock
  // (after a successful change and save), to look at the file as it was left.
  bool Update(const std::function<bool(CRamFileRO&)>& change,
              const std::function<void()>& settled = {});
  // The image holds these lines (trimmed) instead of its own; nothing is written until a save.
  bool ReplaceLines(const std::vector<std::string>& lines);

  // The value of the key in "[KEYS]", "" when absent.
  const char* GetKey(std::string_view name);
  // True when "[KEYS]" has a line for that key.
  bool HasKey(std::string_view name);
  // Sets the key's line to name=value, or adds that line at the end of "[KEYS]".
  bool SetKey(std::string_view name, std::string_view value);
  // The first line of a section (name with its brackets), "" when empty or absent. An absent
  // section's header is added at the end of the image.
  const char* FirstLineOfSection(std::string_view section);
  // The next line of the section of the last FirstLineOfSection, "" at its end.
  const char* NextLineOfSection();

  // Adds a line at the end of a section (adding the section when absent).
  bool AddLineToSection(std::string_view section, std::string_view line);
  // Removes the first line of the section that equals `line` (both trimmed). False when none.
  bool RemoveLineFromSection(std::string_view section, std::string_view line);

  // Every line of the image, in order.
  std::vector<std::string> Lines() const;
  // True when a key or line was changed since the image was loaded or last saved.
  bool IsChanged() const { return m_bChanged; }
  const CQorStr& Path() const { return m_sPath; }

  // Directory + name joined with exactly one separator ("\" unless one of them has one).
  static std::string JoinPath(std::string_view directory, std::string_view name);

 private:
  // Walks to the section; true with the cursor on its first line when it has one. When it has
  // none the cursor stands where a new line of the section belongs (see SetKey).
  bool FindSection(std::string_view section);
  // Moves the cursor to the section's end: the next header, or past the last line.
  void SkipToSectionEnd();
  bool InsertAtCursor(std::string_view text);
  void FreeLines();
  bool SetPathFrom(std::string_view directory, std::string_view name);
  CQorStr* CurrentLine() const { return static_cast<CQorStr*>(m_Lines.CurrentData()); }

  CQorStr m_sDirectory;
  CQorStr m_sFileName;
  CQorStr m_sPath;
  bool m_bInitialized = false;
  std::unique_ptr<CCryptoTxtfile> m_pCryptoFile;
  CPointerList m_Lines;  // owned CQorStr lines in file order
  CQorStr m_sSection;
  CQorStr m_sKeyValue;
  CQorStr m_sSectionLine;
  bool m_bSectionEnded = true;
  bool m_bChanged = false;
};
