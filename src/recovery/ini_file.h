#pragma once
// CIniFile: the reader of the restart program "Sentinex.ini". Each call finds the next line
// that holds "=" once its comment ("##" to the end of the line) is dropped, and splits it at
// the first "=" into a trimmed key and value of at most 259 characters each.
//
// The service runs as root and starts the command lines of this file, so a file that someone
// other than its owner may write is refused (see platform/file_trust.h), as is a file too big
// to be a restart program. A line longer than the line buffer stops the reading as a failure:
// a program cut short must not pass for a whole one.

#include <cstdint>
#include <string_view>

#include "core/qor_str.h"
#include "files/txt_file4.h"

class CIniFile : public CTxtFile4 {
 public:
  static constexpr int kLineBufferSize = 512;
  static constexpr std::int64_t kMaxFileBytes = 1 << 20;

  CIniFile() = default;

  bool Initialize(std::string_view path);
  bool GetFirstKeyAndValue();
  bool GetNextKeyAndValue();

  const CQorStr& Key() const { return m_sKey; }
  const CQorStr& Value() const { return m_sValue; }
  // True when the last read stopped at a line it could not read whole (or a read error).
  bool Failed() const { return m_bFailed; }
  // Lines read since the first call, counting from 1.
  int LineNumber() const { return m_iLineNumber; }

 private:
  bool ReadKeyAndValue();
  // The file may be read: "" when it may, else why not.
  std::string Refusal();

  CQorStr m_sKey;
  CQorStr m_sValue;
  bool m_bInitialized = false;
  CQorStr m_sLine;
  bool m_bFailed = false;
  int m_iLineNumber = 0;
};
