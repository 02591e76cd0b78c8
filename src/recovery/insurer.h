#pragma once
// CInsurer: the operations thread's client of the assurance companion "QorAssure.Actor". It
// creates the component once, hands it the web-server reset program and a time-out, and
// brackets the thread's test and restart phases with BeginPhase / EndPhase; what the component
// does with them (a dead man's switch) is its own business.

#include <cstdint>

#include "components/actor_interface.h"
#include "components/component_factory.h"
#include "core/qor_object.h"

class CInsurer : public CQorObject {
 public:
  static constexpr std::int32_t kDefaultTimeOut = 60000;  // milliseconds
  static constexpr const char* kProgram = "Iisreset.exe";

  explicit CInsurer(snx::platform::ComponentFactory& components);
  CInsurer(const CInsurer&) = delete;
  CInsurer& operator=(const CInsurer&) = delete;
  ~CInsurer() override;

  // Set before Initialize; handed to the component with the program.
  void SetTimeOut(std::int32_t milliseconds) { m_iTimeOut = milliseconds; }
  std::int32_t TimeOut() const { return m_iTimeOut; }

  // Always true; the component may still be missing.
  bool Initialize();
  // Creates and configures the component; the stored component, or null.
  snx::platform::IActor* CreateInsurer();
  // True when the component answered yes; false without a component.
  bool BeginPhase();
  bool EndPhase();
  void ReleaseInsurer();

  bool HasComponent() const { return static_cast<bool>(m_pActor); }
  bool IsInitialized() const { return m_bInitialized; }

 private:
  snx::platform::ComponentFactory& m_Components;
  std::int32_t m_iTimeOut = kDefaultTimeOut;
  snx::platform::ComPtr<snx::platform::IActor> m_pActor;
  bool m_bInitialized = false;
};
