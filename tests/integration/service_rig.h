#pragma once
// The real service for the integration tests: a temporary install folder (snxsvc, the plug-ins,
// the restart program, a web-server reset that records) and state root, the recording power
// facility, minutes of a few seconds, and the settings as the service loads them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "files/all_sets.h"
#include "files/ram_file_ro.h"
#include "files/settings_file_writer.h"
#include "integration/aiosmtpd_sink.h"
#include "integration/subprocess.h"
#include "support/child_programs.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace snx::test {

using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;
namespace fs = std::filesystem;

inline const Args kPlugins = {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll", "QorVoiceAlert.dll",
                              "QorAssure.dll"};

// The e-mail alert keys for a mail server.
inline Args EmailKeys(const std::string& server) {
  return LinesOf("EmailEnabled=1\nSmtpServer=" + server +
                 "\nEmailFrom=watch@example.org\nEmailSubject=Site up\nEmailSubjectDn=Site down: "
                 "web shop\nEmailBodyUp=.\nEmailBodyDown=Gone; restarting it.\n"
                 "EmailUrl=http://127.0.0.1:1/");
}

// The lists one after the other.
template <class... More>
Args Concat(Args first, const More&... more) {
  (first.insert(first.end(), more.begin(), more.end()), ...);
  return first;
}

// The file's text, "" when it is missing.
inline std::string Text(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Runs snxctl until `done` accepts its run, at most `bound`; the last run.
template <class F>
CtlRun SnxctlUntil(const Args& args, F done, std::chrono::milliseconds bound) {
  CtlRun run;
  Eventually([&] { return done(run = Snxctl(args)); }, bound);
  return run;
}
inline bool Answers(const CtlRun& r) { return r.exit_code == 0; }
inline bool InGo(const CtlRun& r) { return r.out.find("(Go loop running)") != std::string::npos; }
// snxctl COMMAND --dir FOLDER MORE...
inline CtlRun SnxctlIn(const std::string& command, const TempDir& dir, const Args& more = {}) {
  return Snxctl(Concat(Args{command, "--dir", dir.path()}, more));
}

// snxctl run by nobody (uid 65534, no groups) through setpriv, where root may do that.
inline bool CanRunAsNobody() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }
inline CtlRun AsNobody(const Args& args) {
  return Snxctl(
      Concat(Args{"--reuid=65534", "--regid=65534", "--clear-groups", SnxctlPath()}, args),
      "/usr/bin/setpriv");
}

// The run ended with `code` and said each of `texts`.
inline ::testing::AssertionResult Ran(const CtlRun& run, int code, const Args& texts = {}) {
  bool ok = run.exit_code == code;
  for (const std::string& text : texts) ok = ok && run.out.find(text) != std::string::npos;
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "exit " << run.exit_code << " (not " << code << ") or a text missing in:\n"
         << run.out;
}

class ServiceRig {
 public:
  explicit ServiceRig(const char* minute_seconds = "1")
      : minute_env_("SNX_MINUTE_SECONDS", minute_seconds) {}

  std::string Folder() const { return install.path() + "/"; }
  void Copy(const std::string& built) const { fs::copy_file(BinFile(built), install.File(built)); }
  // snxsvc and the plug-ins, registered by "-Service" (which also writes the unit a reboot and
  // AutoRun need).
  ::testing::AssertionResult InstallService() const {
    for (const std::string& file : kPlugins) Copy(file);
    Child service({install.File("snxsvc"), "-Service"}, true);
    if (service.Wait(std::chrono::seconds(20)) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << service.Output();
  }
  // The restart program, its owner's alone as the service wants it.
  void RestartProgram(const std::string& text) const {
    install.Write("Sentinex.ini", text);
    ::chmod(install.File("Sentinex.ini").c_str(), 0600);
  }
  // A web-server reset that records each run and its arguments in resets.txt.
  void ResetStub(const std::string& name = "iisreset") const {
    WriteScript(install, name, "echo \"ran $*\" >> \"$(dirname \"$0\")/resets.txt\"\n");
  }
  std::unique_ptr<Child> Start() const {
    return std::make_unique<Child>(Args{install.File("snxsvc"), "-Foreground"}, true);
  }
  // The service started and answering snxctl.
  std::unique_ptr<Child> StartAnswering() const {
    auto service = Start();
    EXPECT_TRUE(Answers(SnxctlUntil({"state"}, Answers, std::chrono::seconds(30))))
        << service->Output();
    return service;
  }
  std::string Log() const { return Text(install.File("SNXSVC.log")); }

  TempDir install;
  TempDir root;

 private:
  ScopedEnv root_env_{"SNX_ROOT", root.path().c_str()};
  ScopedEnv power_env_{"SNX_POWER", "record"};
  ScopedEnv minute_env_;
};

}  // namespace snx::test
