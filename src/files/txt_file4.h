#pragma once
// CTxtFile4: the plain text file: a line reader with a fixed-size line buffer, a line writer,
// and open, create, append and delete operations on a path.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/qor_str.h"
#include "platform/file_system.h"

class CTxtFile4 : public CQorStr {
 public:
  CTxtFile4() = default;
  CTxtFile4(const CTxtFile4&) = delete;
  CTxtFile4& operator=(const CTxtFile4&) = delete;
  ~CTxtFile4() override;

  bool Initialize(int line_buffer_size);
  bool IsInitialized();
  bool OpenForReadOnly(std::string_view path);
  bool TryOpenForReadOnly(std::string_view path);
  bool OpenForReadWrite(std::string_view path);
  bool ReOpenForReadAppend(std::string_view path);
  // Creates or empties the file; the stream stays open but the open flag is not set.
  bool Create(std::string_view path);
  bool Delete(std::string_view path);
  // Reads the next line into the line buffer. A line ends at CR LF, LF CR, or a lone LF.
  bool ReadTextLine();
  bool ReadCharForward();
  // Writes the text literally, then CR LF.
  bool WriteLine(std::string_view text);
  bool Close();
  // Hands what is buffered to the system: one write for a line written since the last flush.
  bool Flush() { return m_pFile != nullptr && m_pFile->Flush(); }
  // The identity of the open file (not of whatever its path names now), or nullopt.
  std::optional<snx::platform::FileIdentity> OpenIdentity() const {
    return m_pFile ? m_pFile->Identity() : std::nullopt;
  }
  bool IsOpen() const { return m_bOpen; }

  const char* Line() const { return m_pLine ? m_pLine.get() : ""; }
  bool AtEndOfFile() const { return m_bEndOfFile; }
  bool ReadFailed() const { return m_bReadError; }
  const std::string& Path() const { return m_sPath; }
  void SetQuiet(bool quiet) { m_bQuiet = quiet; }
  bool IsQuiet() const { return m_bQuiet; }

 protected:
  // Failure messages go to the log, or to the debugger output when the object is quiet.
  void Report(std::string_view text);

 private:
  bool OpenStream(std::string_view path, std::string_view mode, std::string_view failure);

  bool m_bQuiet = false;
  bool m_bEndOfFile = false;
  bool m_bReadError = false;
  std::unique_ptr<char[]> m_pLine;
  std::string m_sPath;
  std::unique_ptr<snx::platform::File> m_pFile;
  std::string m_sMode;
  std::int32_t m_iLineBufferSize = 0;
  bool m_bInitialized = false;
  char m_cCurrent = 0;
  bool m_bCrSeen = false;
  bool m_bLfSeen = false;
  bool m_bEndOfLine = false;
  std::int32_t m_iIndex = -1;
  bool m_bOpen = false;
};
