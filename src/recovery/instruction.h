#pragma once
// CInstruction: one step of the restart program, as written: its keyword and its value. Every
// instruction has an activity detector; only a "Detect" step sets it up.

#include <memory>
#include <string_view>

#include "core/qor_object.h"
#include "core/qor_str.h"
#include "recovery/activity_detector.h"

class CInstruction : public CQorObject {
 public:
  CInstruction() = default;
  CInstruction(const CInstruction&) = delete;
  CInstruction& operator=(const CInstruction&) = delete;
  ~CInstruction() override;

  bool Initialize(std::string_view keyword, std::string_view value);

  const CQorStr& Name() const { return m_sName; }
  const CQorStr& Value() const { return m_sValue; }
  CActivityDetector* Detector() const { return m_pDetector.get(); }

 private:
  CQorStr m_sName;
  CQorStr m_sValue;
  std::unique_ptr<CActivityDetector> m_pDetector;
  bool m_bInitialized = false;
};
