#include "core/qor_str.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ascii.h"

namespace {

using snx::platform::AsciiUpper;

bool SameByte(char a, char b, bool match_case) {
  return match_case ? a == b : AsciiUpper(a) == AsciiUpper(b);
}

// Length up to the first NUL.
std::string_view UpToNul(std::string_view text) {
  const auto nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

CQorStr::CQorStr() { Assign(""); }

CQorStr::CQorStr(const char* text) {
  if (!Assign(text)) Assign("");
}

CQorStr::CQorStr(std::string_view text) {
  if (!Assign(text)) Assign("");
}

CQorStr::CQorStr(const CQorStr& other) {
  if (!Assign(other.View())) Assign("");
}

CQorStr& CQorStr::operator=(const CQorStr& other) {
  if (this != &other) Assign(other);
  return *this;
}

CQorStr::~CQorStr() = default;

int CQorStr::CapacityFor(int length) {
  if (length < 34) return std::max(2 * length, 8);
  return length + 16;
}

bool CQorStr::Allocate(int capacity) {
  m_pText.reset(new (std::nothrow) char[capacity]);
  if (!m_pText) {
    m_iCapacity = -1;
    return false;
  }
  m_iCapacity = capacity;
  std::memset(m_pText.get(), ' ', capacity);
  m_pText[0] = '\0';
  return true;
}

bool CQorStr::Assign(const char* text) {
  return Assign(std::string_view(text != nullptr ? text : ""));
}

bool CQorStr::Assign(std::string_view text) {
  text = UpToNul(text);
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX - 64));
  if (length + 2 > kGrownCapacity) return false;
  if (!m_pText) {
    if (!Allocate(length > 0 ? CapacityFor(length) : kDefaultCapacity)) return false;
  } else if (length == 0) {
    std::memset(m_pText.get(), ' ', m_iCapacity);
    m_pText[0] = '\0';
    return true;
  } else if (length + 2 >= m_iCapacity) {
    // The text may live inside the buffer that is about to go: copy it out first.
    const std::string copy(text);
    if (!Allocate(CapacityFor(length))) return false;
    std::memcpy(m_pText.get(), copy.data(), length);
    m_pText[length] = '\0';
    return true;
  }
  if (length > 0) std::memmove(m_pText.get(), text.data(), length);
  m_pText[length] = '\0';
  return true;
}

bool CQorStr::Assign(const CQorStr& other) {
  if (this == &other) return true;
  return Assign(other.View());
}

bool CQorStr::AssignBstr(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) {
    if (c == 0) break;
    bytes.push_back(c < 256 ? static_cast<char>(c) : '?');
  }
  return Assign(std::string_view(bytes));
}

bool CQorStr::Append(const char* text) {
  return Append(std::string_view(text != nullptr ? text : ""));
}

bool CQorStr::Append(std::string_view text) {
  text = UpToNul(text);
  const int m = Length();
  const auto k = static_cast<long long>(text.size());
  const long long needed = m + k + 2;
  // No text grows past the longest one Assign accepts, whatever room its buffer has: a longer
  // one could not be copied into another string.
  if (m + k > kMaxLength) return false;
  if (needed > m_iCapacity) {
    if (needed >= kGrownCapacity) return false;
    const std::string copy(text);  // the text may be a view of this string
    std::unique_ptr<char[]> old = std::move(m_pText);
    // Room for the text and as much again, up to the longest a string may grow to.
    if (!Allocate(static_cast<int>(std::min<long long>(kGrownCapacity, 2 * needed + 16)))) {
      return false;
    }
    if (old) std::memcpy(m_pText.get(), old.get(), m);
    if (!copy.empty()) std::memcpy(m_pText.get() + m, copy.data(), copy.size());
    m_pText[m + copy.size()] = '\0';
    return true;
  }
  if (k > 0) std::memmove(m_pText.get() + m, text.data(), text.size());
  m_pText[m + k] = '\0';
  return true;
}

bool CQorStr::Append(const CQorStr& other) { return Append(other.View()); }

bool CQorStr::Append(char c) { return Append(std::string_view(&c, 1)); }

void CQorStr::Clear() {
  if (!m_pText) {
    Assign("");
    return;
  }
  m_pText[0] = '\0';
}

bool CQorStr::IsEmpty() {
  if (!m_pText) Assign("");
  return !m_pText || m_pText[0] == '\0';
}

int CQorStr::Length() const {
  if (!m_pText || m_iCapacity <= 0) return 0;
  return static_cast<int>(strnlen(m_pText.get(), m_iCapacity));
}

bool CQorStr::IsEqual(std::string_view text) const { return View() == UpToNul(text); }

int CQorStr::Find(std::string_view pattern, bool bMatchCase) const {
  pattern = UpToNul(pattern);
  const std::string_view text = View();
  if (pattern.empty() || text.empty()) return -1;
  if (pattern.size() < 2) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (SameByte(text[i], pattern[0], bMatchCase)) return static_cast<int>(i);
    }
    return -1;
  }
  if (pattern.size() > text.size()) return -1;
  for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i) {
    std::size_t j = 0;
    while (j < pattern.size() && SameByte(text[i + j], pattern[j], bMatchCase)) ++j;
    if (j == pattern.size()) return static_cast<int>(i);
  }
  return -1;
}

bool CQorStr::IsSame(std::string_view pattern, bool bMatchCase) const {
  // Measured without copies; a pattern longer than any CQorStr counts as an empty one.
  const std::string_view whole = UpToNul(pattern);
  const std::size_t pattern_length =
      whole.size() > static_cast<std::size_t>(kMaxLength) ? 0 : Trimmed(whole).size();
  const std::size_t text_length = Trimmed(View()).size();
  if (pattern_length == 0 && text_length == 0) return true;
  return Find(pattern, bMatchCase) >= 0 && pattern_length == text_length;
}

const char* CQorStr::Left(int n) {
  const int count = std::clamp(std::min(n, Length()), 0, kResultArea - 1);
  std::memcpy(m_szResult, GetBuffer(), count);
  m_szResult[count] = '\0';
  return m_szResult;
}

const char* CQorStr::Mid(int start) { return Mid(start, Length()); }

const char* CQorStr::Mid(int start, int count) {
  const int length = Length();
  m_szResult[0] = '\0';
  if (start < 0) start = 0;
  if (start >= length || count <= 0) return m_szResult;
  const int n = std::min({count, length - start, kResultArea - 1});
  std::memcpy(m_szResult, GetBuffer() + start, n);
  m_szResult[n] = '\0';
  return m_szResult;
}

const char* CQorStr::KeepRight(int n) {
  const int length = Length();
  if (n >= length) return GetBuffer();
  if (n <= 0) {
    Clear();
    return GetBuffer();
  }
  std::memmove(m_pText.get(), m_pText.get() + (length - n), n);
  m_pText[n] = '\0';
  return GetBuffer();
}

void CQorStr::TrimRight() {
  if (!m_pText) return;
  int end = Length();
  while (end > 0 && !IsVisible(m_pText[end - 1])) --end;
  m_pText[end] = '\0';
}

void CQorStr::TrimLeft() {
  if (!m_pText) return;
  const int length = Length();
  int start = 0;
  while (start < length && !IsVisible(m_pText[start])) ++start;
  if (start == 0) return;
  std::memmove(m_pText.get(), m_pText.get() + start, length - start);
  m_pText[length - start] = '\0';
}

void CQorStr::Trim() {
  TrimRight();
  TrimLeft();
}

void CQorStr::SplitOff(char separator, CQorStr& token) {
  const std::string_view text = View();
  const auto at = text.find(separator);
  if (at == std::string_view::npos) {
    token.Assign(text);
    Clear();
    return;
  }
  token.Assign(text.substr(0, at));
  const std::string rest(text.substr(at + 1));
  Assign(std::string_view(rest));
}

bool CQorStr::IsNumber() const {
  const std::string_view text = View();
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int CQorStr::ToInt() const {
  if (Length() < 1 || !IsNumber()) return 0;
  errno = 0;
  const long long value = std::strtoll(GetBuffer(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

bool CQorStr::SetInt(std::int32_t value) { return Assign(std::string_view(std::to_string(value))); }

bool CQorStr::SetUnsigned(std::uint32_t value) {
  return Assign(std::string_view(std::to_string(value)));
}

void CQorStr::MakeUpper() {
  if (!m_pText) return;
  for (int i = 0, n = Length(); i < n; ++i) m_pText[i] = AsciiUpper(m_pText[i]);
}

const char* CQorStr::EscapeSlashes() {
  m_sEscaped.clear();
  for (char c : View()) {
    if (c == '/' || c == '\\') {
      m_sEscaped += "\\\\";
    } else {
      m_sEscaped += c;
    }
  }
  return m_sEscaped.c_str();
}
