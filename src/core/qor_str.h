#pragma once
// CQorStr: the byte string that carries all text of the system. At most 2046 characters, with
// its own buffer growth rules, trimming, searching and sub-string operations.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CQorStr {
 public:
  static constexpr int kMaxLength = 2046;      // longest text Assign accepts
  static constexpr int kGrownCapacity = 2048;  // buffer of a string that grew by Append
  // The buffer of an empty string: small, as most strings of the service stay empty or short;
  // it grows when a longer text is put in.
  static constexpr int kDefaultCapacity = 16;
  static constexpr int kResultArea = 260;  // Left and Mid results keep at most 259 characters

  CQorStr();
  CQorStr(const char* text);  // NOLINT: implicit, like the texts it stands for
  explicit CQorStr(std::string_view text);
  CQorStr(const CQorStr& other);
  CQorStr& operator=(const CQorStr& other);
  virtual ~CQorStr();

  bool Assign(const char* text);
  bool Assign(std::string_view text);
  bool Assign(const CQorStr& other);
  // Converts a 16-bit COM string to single bytes ("?" for what a byte cannot carry).
  bool AssignBstr(std::u16string_view text);

  bool Append(const char* text);
  bool Append(std::string_view text);
  bool Append(const CQorStr& other);
  bool Append(char c);

  void Clear();
  bool IsEmpty();
  int Length() const;
  int Capacity() const { return m_iCapacity; }

  bool IsEqual(std::string_view text) const;
  bool IsSame(std::string_view pattern, bool bMatchCase = false) const;
  int Find(std::string_view pattern, bool bMatchCase = false) const;

  const char* Left(int n);
  const char* Mid(int start);
  const char* Mid(int start, int count);
  const char* KeepRight(int n);

  void Trim();
  void TrimLeft();
  void TrimRight();

  // Cuts the text at the first `separator`: `token` gets what stands before it and this string
  // keeps what follows it. Without a separator the token is the whole text and this becomes "".
  void SplitOff(char separator, CQorStr& token);

  bool IsNumber() const;
  // The decimal value of the text; 0 for a text without digits. Values beyond 32 bits clamp.
  int ToInt() const;
  bool SetInt(std::int32_t value);
  bool SetUnsigned(std::uint32_t value);
  void MakeUpper();

  // A copy in which every "/" and "\" is written as two backslashes. Never cut.
  const char* EscapeSlashes();

  const char* GetBuffer() const { return m_pText ? m_pText.get() : ""; }
  std::string_view View() const { return std::string_view(GetBuffer(), Length()); }
  std::string ToString() const { return std::string(View()); }
  operator std::string_view() const { return View(); }  // NOLINT: texts pass as views

  // The text without its blanks at both ends, by the rule of Trim.
  static std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && !IsVisible(text.back())) text.remove_suffix(1);
    while (!text.empty() && !IsVisible(text.front())) text.remove_prefix(1);
    return text;
  }

  // Blank rule of the trimming operations: visible bytes are those of signed value 33..125.
  static bool IsVisible(char c) {
    const auto v = static_cast<signed char>(c);
    return v >= 33 && v <= 125;
  }

 private:
  bool Allocate(int capacity);
  static int CapacityFor(int length);

  [[maybe_unused]] std::int32_t m_iKind = 2;
  std::int32_t m_iCapacity = -1;
  std::unique_ptr<char[]> m_pText;
  char m_szResult[kResultArea];  // written before every use: no need to clear it per string
  std::string m_sEscaped;
};
