#include "files/crypto_txtfile.h"

#include <cstring>
#include <new>

#include "core/log_writer.h"
#include "files/cipher_key_table.h"
#include "platform/ascii.h"

using snx::platform::Files;

namespace {

constexpr std::size_t kReadAheadSize = 64 * 1024;
constexpr std::int64_t kKeyPeriod = 2000;

// The keys of the cipher. `direct` serves positions up to 2000, which index the table as they
// are (0 past its end). Past 2000 the key of position p is that of index p % 2000, so the keys
// repeat every 2000 positions; `periodic` holds them twice over the seam, so that the keys of a
// whole line can be read as one run from index p % 2000.
struct KeyRun {
  unsigned char direct[kKeyPeriod + 1];
  unsigned char periodic[kKeyPeriod + 256];
  KeyRun() {
    for (int i = 0; i <= kKeyPeriod; ++i) {
      direct[i] = i < kCipherKeyTableLength ? static_cast<unsigned char>(kCipherKeyTable[i]) : 0;
    }
    for (int i = 0; i < kKeyPeriod + 256; ++i) periodic[i] = direct[i % kKeyPeriod];
  }
};
const KeyRun& Keys() {
  static const KeyRun keys;
  return keys;
}

// Index 2000 is only ever used by position 2000 itself.
inline int KeyIndex(std::int64_t position) {
  return static_cast<int>(position <= kKeyPeriod ? position : position % kKeyPeriod);
}

// plain = coded - key, plus 160 when the key exceeds coded - 32 (all modulo 256). Sixteen bytes
// at a time where the compiler's vector types allow, the rest one by one.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

void DecipherRun(const unsigned char* coded, const unsigned char* keys, std::size_t n,
                 char* plain) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    Bytes16 e;
    Bytes16 k;
    std::memcpy(&e, coded + i, 16);
    std::memcpy(&k, keys + i, 16);
    const Bytes16 wrap = reinterpret_cast<Bytes16>(e < k + 32) & 160;
    const Bytes16 p = e - k + wrap;
    std::memcpy(plain + i, &p, 16);
  }
  for (; i < n; ++i) {
    const unsigned char e = coded[i];
    const unsigned char k = keys[i];
    const unsigned char wrap = e < static_cast<unsigned char>(k + 32) ? 160 : 0;
    plain[i] = static_cast<char>(static_cast<unsigned char>(e - k + wrap));
  }
}

}  // namespace

CCryptoTxtfile::CCryptoTxtfile() = default;

CCryptoTxtfile::~CCryptoTxtfile() { Close(); }

int CCryptoTxtfile::KeyAt(std::int64_t position) {
  if (position < 0) return 0;
  // Positions up to 2000 index the table directly; later ones wrap, so 2001 uses index 1.
  return Keys().direct[KeyIndex(position)];
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
  if (ReadWholeLineAtOnce(base)) return true;
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

bool CCryptoTxtfile::ReadWholeLineAtOnce(std::int64_t base) {
  // The common case, read in one go: a line of at most the buffer's size, ended by CR LF, with
  // no other CR or LF in it, wholly inside the bytes read ahead. It reads exactly as the byte
  // by byte loop would; anything else is left to that loop.
  const char* const start = m_pReadAhead ? m_pReadAhead.get() + m_iReadPos : nullptr;
  const std::size_t available = m_iReadEnd - m_iReadPos;
  if (start == nullptr || available < 2) return false;
  const auto* cr = static_cast<const char*>(std::memchr(start, '\r', available));
  if (cr == nullptr || cr + 1 >= start + available || cr[1] != '\n') return false;
  const auto length = static_cast<std::size_t>(cr - start);
  if (length > static_cast<std::size_t>(m_iLineBufferSize)) return false;
  if (std::memchr(start, '\n', length) != nullptr) return false;
  const auto* coded = reinterpret_cast<const unsigned char*>(start);
  const KeyRun& keys = Keys();
  if (base + static_cast<std::int64_t>(length) <= kKeyPeriod) {
    DecipherRun(coded, keys.direct + base, length, m_pLine.get());
  } else if (base > kKeyPeriod) {
    DecipherRun(coded, keys.periodic + base % kKeyPeriod, length, m_pLine.get());
  } else {
    for (std::size_t i = 0; i < length; ++i) {
      m_pLine[i] = static_cast<char>(Decipher(coded[i], base + static_cast<std::int64_t>(i)));
    }
  }
  m_pLine[length] = '\0';
  m_iIndex = static_cast<std::int32_t>(length);
  m_cCurrent = '\n';
  m_bCrSeen = true;
  m_bEndOfLine = true;
  m_iReadPos += length + 2;
  ++m_iLineCounter;
  return true;
}

bool CCryptoTxtfile::EncipherLine(std::string_view text, std::string& out) {
  if (!m_bInitialized || static_cast<std::int64_t>(text.size()) > m_iLineBufferSize) return false;
  const std::int64_t base = static_cast<std::int64_t>(m_iLineBufferSize) * m_iLineCounter;
  const std::size_t start = out.size();
  out.reserve(start + text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char plain = text[i];
    const std::int64_t position = base + static_cast<std::int64_t>(i);
    const unsigned char coded = Encipher(static_cast<unsigned char>(plain), position);
    const char back = static_cast<char>(Decipher(coded, position));
    // Every byte must come back as it went in; a line that would be cut short or changed is
    // not written at all, so the file never holds a line other than the one asked for.
    if (!IsCipherSafe(plain) ||
        snx::platform::AsciiUpper(back) != snx::platform::AsciiUpper(plain)) {
      out.resize(start);
      return false;
    }
    out += static_cast<char>(coded);
  }
  out += "\r\n";
  ++m_iLineCounter;
  return true;
}

bool CCryptoTxtfile::Append(std::string_view text) {
  std::string out;
  if (!m_pFile || !EncipherLine(text, out)) {
    LogError("CCryptoTxtfile::Append failed.");
    return false;
  }
  if (m_pFile->Write(out)) return true;
  --m_iLineCounter;
  return false;
}

bool CCryptoTxtfile::Close() {
  m_iReadPos = m_iReadEnd = 0;
  m_pReadAhead.reset();  // a file kept between reads holds no read-ahead buffer
  if (!m_pFile) return true;
  const bool flushed = m_pFile->Flush();
  const bool closed = m_pFile->Close();
  m_pFile.reset();
  m_bOpen = false;
  return flushed && closed;
}
