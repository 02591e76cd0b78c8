#pragma once
// CCryptoTxtfile: a text file whose characters are enciphered one by one with a substitution
// that depends on the character's position, so that the settings file cannot be read or edited
// as plain text. Lines keep their CR LF in the clear; only the characters of a line are
// enciphered.
//
// The position of a character is line counter × line buffer size + its index in the line. The
// line counter runs from 0 at Initialize across every line read or appended, so a file must be
// read by a fresh object from its first line, exactly as a fresh object wrote it.
//
// Only the characters 32 to 126 survive the cipher; Append refuses a line with any other one.
// Reading reads ahead in blocks: a stream is either read or appended to, not both.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/qor_str.h"
#include "platform/file_system.h"

class CCryptoTxtfile : public CQorStr {
 public:
  // The settings file is always written and read with lines of this size.
  static constexpr int kSettingsLineSize = 255;
  // A file this class creates is readable and writable by its owner only.
  static constexpr unsigned kCreateMode = 0600;

  CCryptoTxtfile();
  CCryptoTxtfile(const CCryptoTxtfile&) = delete;
  CCryptoTxtfile& operator=(const CCryptoTxtfile&) = delete;
  ~CCryptoTxtfile() override;

  bool Initialize(int line_buffer_size);
  bool IsInitialized();
  bool OpenForReadOnly(std::string_view path);
  bool OpenForReadWrite(std::string_view path);
  bool OpenForAppend(std::string_view path);
  // Creates or empties the file; the stream stays open but the open flag is not set.
  bool Create(std::string_view path);
  // Reads the next line and deciphers it into the line buffer.
  bool ReadTextLine();
  bool ReadCharForward();
  // Enciphers the text and writes it as one line. False, with nothing written, for a line
  // longer than the line buffer or with a character the cipher cannot carry.
  bool Append(std::string_view text);
  // Enciphers the text as the next line, with its CR LF, onto the end of `out` instead of the
  // stream (a whole file is built so, then saved at once). Same checks as Append.
  bool EncipherLine(std::string_view text, std::string& out);
  // Flushes and closes the stream; false when the data may not have reached the file.
  bool Close();

  const char* Line() const { return m_pLine ? m_pLine.get() : ""; }
  bool AtEndOfFile() const { return m_bEndOfFile; }
  bool ReadFailed() const { return m_bReadError; }
  bool IsOpen() const { return m_bOpen; }
  std::int32_t LineCounter() const { return m_iLineCounter; }
  std::int32_t LineBufferSize() const { return m_iLineBufferSize; }
  const std::string& Path() const { return m_sPath; }

  // The cipher itself.
  static int KeyAt(std::int64_t position);
  static unsigned char Encipher(unsigned char plain, std::int64_t position);
  static unsigned char Decipher(unsigned char coded, std::int64_t position);
  // True for the characters that survive the cipher (codes 32 to 126).
  static bool IsCipherSafe(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 32 && u <= 126;
  }

 private:
  bool OpenStream(std::string_view path, std::string_view mode, std::string_view failure);
  bool NextByte(char& c);
  bool ReadWholeLineAtOnce(std::int64_t base);

  bool m_bEndOfFile = false;
  bool m_bReadError = false;
  std::unique_ptr<char[]> m_pLine;
  std::int32_t m_iLineCounter = 0;
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

  // Bytes read ahead from the stream.
  std::unique_ptr<char[]> m_pReadAhead;
  std::size_t m_iReadPos = 0;
  std::size_t m_iReadEnd = 0;
};
