// snxsvc: the service executable. Its folder is its install folder.

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "platform/process_memory.h"
#include "platform/service_manager.h"
#include "service/install_steps.h"
#include "service/service_module.h"
#include "service/service_switch.h"
#include "service/service_wiring.h"
#include "service/snxsvr.h"
#include "snx_version.h"

namespace {

constexpr const char* kHelp =
    "usage: snxsvc -Service | -RegServer | -UnregServer | -Foreground\n"
    "       snxsvc --help | --version\n"
    "\n"
    "The SNXSVC watchdog service. Its folder is its install folder (settings, restart\n"
    "program, plug-ins, log).\n"
    "  -Service      register the service: the class keys, the systemd unit\n"
    "                /etc/systemd/system/snxsvc.service, the companion plug-ins of this folder\n"
    "                and the links of the life-sign units; then say what to do next\n"
    "  -RegServer    only the class keys, to run as a local server (removes the unit)\n"
    "  -UnregServer  remove all that -Service wrote\n"
    "  -Foreground   run as the service does, without systemd (events on stderr; SIGTERM or\n"
    "                SIGINT stops it)\n"
    "With no switch it runs as the service under systemd, or as the local server started from\n"
    "a console. $SNX_ROOT, when set, stands for / (the unit, the key store, the socket).\n"
    "Exit status: 0 done, 1 failed, 2 not registered.\n";

int Main(int argc, char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("snxsvc %s\n", SNX_VERSION);
    return 0;
  }
  const std::string executable = snx::platform::Files().ExecutablePath();
  const std::string folder = executable.substr(0, executable.rfind('/') + 1);
  CServiceWiring wiring(folder);
  CServiceModule module(snx::platform::Keys(), snx::platform::SystemServiceManager(), executable,
                        snx::platform::StateRoot(), [&]() -> std::unique_ptr<ISNXSVR> {
                          auto object = std::make_unique<CSNXSVR>(wiring.Facilities(), folder);
                          object->FinalConstruct();
                          return object;
                        });
  module.Init();
  const std::string line = snxsvc::JoinArguments(argc, argv);
  const snxsvc::ServiceSwitch which = snxsvc::ParseServiceSwitch(line);
  snxsvc::CInstallSteps steps(wiring.Launcher(), snx::platform::Keys(),
                              snx::platform::SystemServiceManager(), folder,
                              snx::platform::StateRoot());
  if (which == snxsvc::ServiceSwitch::kUnregServer) steps.Unregister();
  const int code = module.Main(line);
  if (which == snxsvc::ServiceSwitch::kService && code == 0) return steps.Register(stdout) ? 0 : 1;
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  snx::platform::UseOneMallocArena();
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "snxsvc: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "snxsvc: unexpected failure\n");
  }
  return 1;
}
