#pragma once
// CTearException: the web page fetch's own exception. It carries one code (1: a bad URL or a
// refused password, 2: a redirect that could not be followed) and never leaves the fetch: the
// fetch throws it by value and catches it before it returns.

#include <cstdint>
#include <exception>

class CTearException : public std::exception {
 public:
  static constexpr const char* kRuntimeClassName = "CTearException";

  explicit CTearException(std::int32_t code) : m_iCode(code) {}

  std::int32_t Code() const { return m_iCode; }
  const char* GetRuntimeClassName() const { return kRuntimeClassName; }
  const char* what() const noexcept override { return kRuntimeClassName; }

 private:
  std::int32_t m_iCode;
};

// The one way the fetch raises it.
[[noreturn]] void ThrowTearException(std::int32_t code);
