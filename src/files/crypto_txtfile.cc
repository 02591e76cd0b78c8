#include "files/crypto_txtfile.h"

#include <array>
#include <cstring>
#include <new>

#include "core/log_writer.h"
#include "files/cipher_key_table.h"

using snx::platform::Files;

namespace {

constexpr std::size_t kReadAheadSize = 64 * 1024;
constexpr std::int64_t kKeyPeriod = 2000;

// The key of every table index 0..2000; 0 past the end of the table.
const std::array<unsigned char, kKeyPeriod + 1>& Keys() {
  static const std::array<unsigned char, kKeyPeriod + 1> keys = [] {
    std::array<unsigned char, kKeyPeriod + 1> k{};
    for (int i = 0; i < kCipherKeyTableLength; ++i) {
      k[i] = static_cast<unsigned char>(kCipherKeyTable[i]);
    }
    return k;
  }();
  return keys;
}

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

CCryptoTxtfile::CCryptoTxtfile() = default;

CCryptoTxtfile::~CCryptoTxtfile() { Close(); }

int CCryptoTxtfile::KeyAt(std::int64_t position) {
  if (position < 0) return 0;
  // Positions up to 2000 index the table directly; later ones wrap, so 2001 uses index 1.
  const std::int64_t index = position <= kKeyPeriod ? position : position % kKeyPeriod;
  return Keys()[static_cast<std::size_t>(index)];
}

unsigned char CCryptoTxtfile::Encipher(unsigned char plain, std::int64_t position) {
  const int sum = KeyAt(position) + plain;
  return static_cast<unsigned char>(sum <= 192 ? sum : sum - 160);
}

unsigned char CCryptoTxtfile::Decipher(unsigned char coded, std::int64_t position) {
  const int key = KeyAt(position);
  const int above = coded - 32;
  return static_cast<unsigned char>(key > above ? 192 - (key - above) : coded - key);
}

bool CCryptoTxtfile::Initialize(int line_buffer_size) {
  m_iLineBufferSize = line_buffer_size;
  if (line_buffer_size <= 0) LogError("CCryptoTxtfile::Initialize found ZERO line buffer param.");
  m_pLine.reset();
  m_bInitialized = false;
  const std::size_t bytes =
      static_cast<std::size_t>(line_buffer_size > 0 ? line_buffer_size : 0) + 1;
  m_pLine.reset(new (std::nothrow) char[bytes]);
  if (!m_pLine) {
    LogError("CCryptoTxtfile::Initialize is out of RAM for LineBuffer");
    return false;
  }
  std::memset(m_pLine.get(), 0, bytes);
  m_iLineCounter = 0;
  m_bInitialized = true;
  return true;
}

bool CCryptoTxtfile::IsInitialized() {
  if (!m_bInitialized || !m_pLine) {
    LogError("CCryptoTxtfile object is not properly initialized.");
    return false;
  }
  return true;
}

bool CCryptoTxtfile::OpenStream(std::string_view path, std::string_view mode,
                                std::string_view failure) {
  if (!IsInitialized()) return false;
  Close();
  m_sPath.assign(path.substr(0, 255));
  m_sMode.assign(mode);
  m_iReadPos = m_iReadEnd = 0;
  m_pFile = Files().Open(path, mode, kCreateMode);
  if (!m_pFile) {
    LogError(failure);
    return false;
  }
  return true;
}

bool CCryptoTxtfile::OpenForReadOnly(std::string_view path) {
  m_bOpen = OpenStream(path, "rb", "CCryptoTxtfile::OpenForReadOnly cannot find its file.");
  return m_bOpen;
}

bool CCryptoTxtfile::OpenForReadWrite(std::string_view path) {
  m_bOpen = OpenStream(path, "r+b", "CCryptoTxtfile::OpenForReadWrite cannot find its file.");
  return m_bOpen;
}

bool CCryptoTxtfile::OpenForAppend(std::string_view path) {
  m_bOpen = OpenStream(path, "a+b", "CCryptoTxtfile::OpenForReadWrite cannot find its file.");
  return m_bOpen;
}

bool CCryptoTxtfile::Create(std::string_view path) {
  return OpenStream(path, "w+b", "CCryptoTxtfile::Create cannot create its file.");
}

bool CCryptoTxtfile::NextByte(char& c) {
  if (m_iReadPos == m_iReadEnd) {
    if (!m_pReadAhead) {
      m_pReadAhead.reset(new (std::nothrow) char[kReadAheadSize]);
      if (!m_pReadAhead) {
        m_bReadError = true;
        LogError("CCryptoTxtfile::ReadCharForward cannot read a char.");
        return false;
      }
    }
    m_iReadPos = 0;
    m_iReadEnd = m_pFile ? m_pFile->Read(m_pReadAhead.get(), kReadAheadSize) : 0;
    if (m_iReadEnd == 0) {
      if (!m_pFile || m_pFile->Failed()) {
        m_bReadError = true;
        LogError("CCryptoTxtfile::ReadCharForward cannot read a char.");
      } else {
        m_bEndOfFile = true;
      }
      return false;
    }
  }
  c = m_pReadAhead[m_iReadPos++];
  return true;
}

bool CCryptoTxtfile::ReadCharForward() { return NextByte(m_cCurrent); }

bool CCryptoTxtfile::ReadTextLine() {
  m_bEndOfFile = false;
  m_bReadError = false;
  if (m_pLine) m_pLine[0] = '\0';
  const std::int64_t base = static_cast<std::int64_t>(m_iLineCounter) * m_iLineBufferSize;
  if (!m_bInitialized || !m_pLine) return false;
  if (!m_pFile) {
    LogError("CCryptoTxtfile::ReadTextLine called but file is not open.");
    return false;
  }
  m_iIndex = -1;
  m_bCrSeen = false;
  m_bLfSeen = false;
  m_bEndOfLine = false;
  char* const line = m_pLine.get();
  const int size = m_iLineBufferSize;
  while (NextByte(m_cCurrent)) {
    const char c = m_cCurrent;
    if (c == '\r') {
      if (!m_bLfSeen) {
        m_bCrSeen = true;
        continue;
      }
      m_bEndOfLine = true;
    } else if (c == '\n') {
      if (!m_bCrSeen) {
        m_bLfSeen = true;
        continue;
      }
      m_bEndOfLine = true;
    }
    ++m_iIndex;
    if (m_iIndex >= size && !m_bEndOfLine) {
      LogError("CCryptoTxtfile::ReadTextLine has buffer overflow.");
      m_bReadError = true;
      line[size] = '\0';
      break;
    }
    if (m_bEndOfLine) {
      line[m_iIndex] = '\0';
      break;
    }
    line[m_iIndex] = static_cast<char>(Decipher(static_cast<unsigned char>(c), base + m_iIndex));
  }
  ++m_iLineCounter;
  if (!m_bEndOfFile) return !m_bReadError;
  // The last line of the file ended without CR LF.
  line[m_iIndex + 1] = '\0';
  return m_iIndex + 1 >= 2;
}

bool CCryptoTxtfile::Append(std::string_view text) {
  if (!m_bInitialized || !m_pFile || static_cast<std::int64_t>(text.size()) > m_iLineBufferSize) {
    LogError("CCryptoTxtfile::Append failed.");
    return false;
  }
  const std::int64_t base = static_cast<std::int64_t>(m_iLineBufferSize) * m_iLineCounter;
  std::string out;
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char plain = text[i];
    const std::int64_t position = base + static_cast<std::int64_t>(i);
    const unsigned char coded = Encipher(static_cast<unsigned char>(plain), position);
    const char back = static_cast<char>(Decipher(coded, position));
    // Every byte must come back as it went in; a line that would be cut short or changed is
    // not written at all, so the file never holds a line other than the one asked for.
    if (!IsCipherSafe(plain) || FoldCase(back) != FoldCase(plain)) {
      LogError("CCryptoTxtfile::Append failed.");
      return false;
    }
    out += static_cast<char>(coded);
  }
  out += "\r\n";
  if (!m_pFile->Write(out)) return false;
  ++m_iLineCounter;
  return true;
}

bool CCryptoTxtfile::Close() {
  m_iReadPos = m_iReadEnd = 0;
  if (!m_pFile) return true;
  const bool flushed = m_pFile->Flush();
  const bool closed = m_pFile->Close();
  m_pFile.reset();
  m_bOpen = false;
  return flushed && closed;
}
