#include "recovery/instruction.h"

#include <new>

#include "core/log_writer.h"

CInstruction::~CInstruction() = default;

bool CInstruction::Initialize(std::string_view keyword, std::string_view value) {
  SetState(kLive);
  m_sName.Assign(keyword);
  m_bInitialized = false;
  if (!m_sName.IsEmpty()) {
    m_sValue.Assign(value);
    m_pDetector.reset(new (std::nothrow) CActivityDetector());
    m_bInitialized = m_pDetector != nullptr;
  }
  if (!m_bInitialized) LogError("CInstruction::Initialize() failed.");
  return m_bInitialized;
}
