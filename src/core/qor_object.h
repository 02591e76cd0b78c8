#pragma once
// CQorObject: the root of the system's own classes. Its string part holds the object's name or
// path; a validity marker tells a live object from one that was destroyed.

#include <cstdint>

#include "core/qor_str.h"

class CQorObject : public CQorStr {
 public:
  static constexpr std::int32_t kLive = 1001;

  CQorObject() = default;
  CQorObject(const CQorObject&) = default;
  CQorObject& operator=(const CQorObject&) = default;
  ~CQorObject() override;

  void SetState(std::int32_t code) {
    m_iState = code;
    m_iExpectedState = code;
  }
  std::int32_t State() const { return m_iState; }
  virtual bool IsLive() { return m_iState == m_iExpectedState && m_iState != 0; }

 private:
  std::int32_t m_iState = kLive;
  [[maybe_unused]] std::int32_t m_iReserved = 0;
  std::int32_t m_iExpectedState = kLive;
  [[maybe_unused]] std::int32_t m_iSpare = 3;
  [[maybe_unused]] bool m_bSpare1 = false;
  [[maybe_unused]] bool m_bSpare2 = false;
};
