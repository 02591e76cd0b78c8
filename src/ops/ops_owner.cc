#include "ops/ops_owner.h"

bool COpsOwner::InitializeCommandEvent() {
  m_CommandEvent.SetWaitTime(kCommandWaitMs);
  return m_CommandEvent.Initialize(kCommandEventName);
}

void COpsOwner::PublishAction(std::string_view action, std::string_view object) {
  if (m_bActionBeingRead.load()) return;
  std::lock_guard lock(m_ActionMutex);
  m_bActionAvailable = false;
  if (!action.empty()) m_sCurrentAction.Assign(action);
  if (!object.empty()) m_sCurrentActionObject.Assign(object);
  m_bActionAvailable = true;
}

std::string COpsOwner::Read(const CQorStr& text) {
  if (!m_bActionAvailable.load()) return {};
  m_bActionBeingRead = true;
  std::string copy;
  {
    std::lock_guard lock(m_ActionMutex);
    copy = text.ToString();
  }
  m_bActionBeingRead = false;
  return copy;
}
