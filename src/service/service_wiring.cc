#include "service/service_wiring.h"

#include "components/component_factory.h"
#include "platform/clock.h"
#include "platform/key_store.h"
#include "platform/mail_transport.h"
#include "platform/metrics_file.h"
#include "platform/minute_length.h"
#include "platform/power.h"

namespace {

using snx::platform::Use;

std::unique_ptr<snx::platform::Launcher> NewLauncher(std::string_view install_folder) {
  snx::platform::LauncherContext context;
  context.install_folder.assign(install_folder);
  context.components = &Use<snx::platform::ComponentFactory>();
  return snx::platform::NewPosixLauncher(context);
}

}  // namespace

CServiceWiring::CServiceWiring(std::string_view install_folder)
    : m_pLauncher(NewLauncher(install_folder)),
      m_Facilities{Use<snx::platform::Clock>(),
                   *m_pLauncher,
                   Use<snx::platform::Power>(),
                   Use<snx::platform::KeyStore>(),
                   Use<snx::platform::ComponentFactory>(),
                   snx::platform::DefaultFacility<snx::platform::MailTransport>(),
                   snx::platform::MinuteLength(),
                   snx::platform::MetricsFilePath()} {}
