// snxsvc: the service executable. Its folder is its install folder.

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "platform/service_manager.h"
#include "service/service_module.h"
#include "service/service_switch.h"
#include "service/service_wiring.h"
#include "service/snxsvr.h"

namespace {

int Main(int argc, char** argv) {
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
  return module.Main(snxsvc::JoinArguments(argc, argv));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "snxsvc: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "snxsvc: unexpected failure\n");
  }
  return 1;
}
