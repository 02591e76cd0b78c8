// snxctl register / unregister / components: the companion plug-ins and their class keys.

#include <cstdio>
#include <string>
#include <vector>

#include "components/actor_interface.h"
#include "components/component_factory.h"
#include "components/pulse_interface.h"
#include "components/ut_report_interface.h"
#include "components/voice_alert_interface.h"
#include "components/watcher_interface.h"
#include "platform/key_store.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"
#include "snxctl/install_folder.h"
#include "snxctl/subcommand.h"

namespace snxctl {
namespace {

using namespace snx::platform;

constexpr const char* kRegisterHelp =
    "usage: snxctl register [--dir FOLDER] FILE\n"
    "       snxctl unregister [--dir FOLDER] FILE\n"
    "\n"
    "Loads the companion plug-in FILE and calls its register (or unregister) entry, which\n"
    "writes (or removes) its class keys in the key store, as \"Regsvr32 /s [/u] FILE\" does for\n"
    "the watchdog. FILE without a folder is taken from FOLDER (default: snxctl's folder).\n"
    "\n"
    "Exit status: 0 done, 1 the file is missing, is not a plug-in or refused, 2 bad arguments.\n";

constexpr const char* kComponentsHelp =
    "usage: snxctl components [--dir FOLDER]\n"
    "\n"
    "Lists each companion: its ProgID, CLSID and plug-in file, whether its class keys are\n"
    "registered, and whether its plug-in loads and makes an object.\n"
    "\n"
    "Exit status: 0 every registered companion loads and makes an object, 1 one does not,\n"
    "2 bad arguments.\n";

struct Companion {
  const char* prog_id;
  CLSID clsid;
  const char* file;
};

// In the order the watchdog registers them.
const Companion kCompanions[] = {
    {kPulseProgId, CLSID_Pulse, kPulseFile},
    {kUtReportProgId, CLSID_UtReport, kUtReportFile},
    {kWatcherProgId, CLSID_Watcher, kWatcherFile},
    {kVoiceAlertProgId, CLSID_VoiceAlert, kVoiceAlertFile},
    {kActorProgId, CLSID_Actor, kActorFile},
};

struct Options {
  std::string folder;
  std::vector<std::string> rest;
};

// Reads --dir and --help; false with the exit code in `code` when the command should end.
bool ParseOptions(const char* name, const char* help, const std::vector<std::string>& args,
                  Options& o, int& code) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(help, stdout);
      code = kExitOk;
      return false;
    }
    if (a == "--dir") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        code = UsageError(name, "--dir needs a folder");
        return false;
      }
      o.folder = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      code = UsageError(name, "unknown option '" + a + "'");
      return false;
    } else {
      o.rest.push_back(a);
    }
  }
  o.folder = InstallFolderOr(o.folder);
  if (o.folder.empty()) {
    std::fprintf(stderr, "snxctl %s: cannot tell the install folder; give --dir\n", name);
    code = kExitFailure;
    return false;
  }
  return true;
}

int RunRegistration(const char* name, bool unregister, const std::vector<std::string>& args) {
  Options o;
  int code = kExitOk;
  if (!ParseOptions(name, kRegisterHelp, args, o, code)) return code;
  if (o.rest.size() != 1) {
    return UsageError(name, "give one FILE");
  }
  std::string path = o.rest[0];
  if (path.find('/') == std::string::npos && path.find('\\') == std::string::npos) {
    path = o.folder + path;
  }
  std::string why;
  const HRESULT hr = Use<ComponentFactory>().RegisterServer(path, unregister, &why);
  if (FAILED(hr)) {
    std::fprintf(stderr, "snxctl %s: %s\n", name,
                 VisibleText(why.empty() ? path + " failed" : why).c_str());
    return kExitFailure;
  }
  std::printf("%s %s\n", unregister ? "unregistered" : "registered", VisibleText(path).c_str());
  return kExitOk;
}

int RunRegister(const std::vector<std::string>& args) {
  return RunRegistration("register", false, args);
}
int RunUnregister(const std::vector<std::string>& args) {
  return RunRegistration("unregister", true, args);
}

// The default value of HKCR\<path>; "" when there is none.
std::string ClassKey(const std::string& path) {
  KeyStore& keys = Use<KeyStore>();
  HKEY key = nullptr;
  if (keys.OpenKey(HKEY_CLASSES_ROOT, path, key) != RegResult::kOk) return "";
  RegValue value;
  const RegResult r = keys.QueryValue(key, "", value);
  keys.CloseKey(key);
  return r == RegResult::kOk ? value.text : "";
}

int RunComponents(const std::vector<std::string>& args) {
  Options o;
  int code = kExitOk;
  if (!ParseOptions("components", kComponentsHelp, args, o, code)) return code;
  if (!o.rest.empty()) {
    return UsageError("components", "no arguments expected");
  }
  bool all_good = true;
  for (const Companion& c : kCompanions) {
    const std::string clsid = GuidToString(c.clsid);
    const std::string file = o.folder + c.file;
    const std::string registered = ClassKey(std::string(c.prog_id) + "\\CLSID");
    std::printf("%s\n  CLSID %s\n  file  %s\n", c.prog_id, clsid.c_str(),
                VisibleText(file).c_str());
    if (registered.empty()) {
      std::printf("  not registered\n");
      continue;
    }
    const std::string server = ClassKey("CLSID\\" + clsid + "\\InprocServer32");
    std::printf("  registered: %s\n", VisibleText(server).c_str());
    if (registered != clsid) {
      std::printf("  FAILS: the ProgID names another class, %s\n", VisibleText(registered).c_str());
      all_good = false;
      continue;
    }
    std::string why;
    ComPtr<IUnknown> object;
    const HRESULT hr =
        Use<ComponentFactory>().CreateInstance(c.clsid, IID_IUnknown, object.PutVoid(), &why);
    if (SUCCEEDED(hr) && object) {
      std::printf("  loads and creates\n");
    } else {
      std::printf("  FAILS: %s\n", VisibleText(why.empty() ? "cannot create" : why).c_str());
      all_good = false;
    }
  }
  return all_good ? kExitOk : kExitFailure;
}

}  // namespace

std::vector<std::string> RegistrationProblems() {
  std::vector<std::string> problems;
  for (const Companion& c : kCompanions) {
    const std::string registered = ClassKey(std::string(c.prog_id) + "\\CLSID");
    if (registered.empty()) continue;  // Go registers what it needs
    const std::string clsid = GuidToString(c.clsid);
    const std::string server = ClassKey("CLSID\\" + clsid + "\\InprocServer32");
    if (registered != clsid) {
      problems.push_back(std::string(c.prog_id) + ": registered to another class, " +
                         VisibleText(registered));
    } else if (server.empty() || !Use<FileSystem>().Exists(ToPosixPath(server))) {
      problems.push_back(std::string(c.prog_id) + ": registered to " + VisibleText(server) +
                         ", which does not exist (snxctl register " + c.file + ")");
    }
  }
  return problems;
}

namespace {

const SubCommandRegistrar kRegister({"register", "register a companion plug-in", RunRegister});
const SubCommandRegistrar kUnregister({"unregister", "unregister a companion plug-in",
                                       RunUnregister});
const SubCommandRegistrar kComponents({"components", "list the companions and whether they load",
                                       RunComponents});

}  // namespace
}  // namespace snxctl
