#pragma once
// What "snxsvc -Service" does beside the unit and the class keys, so that an install by hand
// (cmake --install, then -Service) leaves the machine as the package does: the companion
// plug-ins of the install folder registered, the life-sign units shipped in the folder linked
// where systemd finds them, and a summary of it all with the steps that come next.
// "-UnregServer" undoes both.

#include <cstdio>
#include <string>

#include "platform/key_store.h"
#include "platform/launcher.h"
#include "platform/service_manager.h"

namespace snxsvc {

class CInstallSteps {
 public:
  // `folder`: the install folder (POSIX, ending in "/"); `root`: the state root ($SNX_ROOT).
  CInstallSteps(snx::platform::Launcher& launcher, snx::platform::KeyStore& keys,
                snx::platform::ServiceManager& manager, std::string folder, std::string root);

  // After a successful registration as a service: registers the companions, links the
  // life-sign units and prints to `out` what was written and what to do next (failures go to
  // stderr). False when a companion could not be registered or a unit not linked.
  bool Register(std::FILE* out);
  // Unregisters the companions and removes the links (only links: a unit file an
  // administrator put there stays).
  void Unregister();

  // The link of a life-sign unit under the state root, and the unit it points to.
  std::string LinkPath(const char* unit) const;
  std::string ShippedUnit(const char* unit) const;

 private:
  bool RegisterCompanions(std::FILE* out);
  bool LinkUnits(std::FILE* out);
  bool ClassKeyExists(const std::string& prog_id);

  snx::platform::Launcher& m_Launcher;
  snx::platform::KeyStore& m_Keys;
  snx::platform::ServiceManager& m_Manager;
  std::string m_sFolder;
  std::string m_sRoot;
};

}  // namespace snxsvc
