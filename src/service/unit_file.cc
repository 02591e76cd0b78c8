#include "service/unit_file.h"

#include "platform/path_map.h"

namespace snxsvc {

std::string UnitFilePath(std::string_view root) {
  return snx::platform::UnderRoot(root, snx::platform::kServiceUnitFile);
}

std::string SystemdWord(std::string_view text) {
  std::string out;
  bool quote = text.empty();
  for (const char c : text) {
    if (c == '%' || c == '$') out.push_back(c);
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == ';') quote = true;
    out.push_back(c);
  }
  return quote ? "\"" + out + "\"" : out;
}

std::string UnitFileText(std::string_view executable, std::string_view root) {
  const std::string folder(executable.substr(0, executable.rfind('/') + 1));
  std::string text =
      "# Written by \"snxsvc -Service\"; \"snxsvc -UnregServer\" removes it.\n"
      "[Unit]\n"
      "Description=SNXSVC server watchdog\n"
      "Wants=network-online.target\n"
      "After=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "NotifyAccess=main\n"
      "ExecStart=" +
      SystemdWord(executable) + "\n" + "WorkingDirectory=" + SystemdWord(folder) + "\n";
  if (!root.empty() && root != "/") {
    text += "Environment=" + SystemdWord("SNX_ROOT=" + std::string(root)) + "\n";
  }
  text +=
      "# libcurl brings GnuTLS along (through librtmp), which would set itself up at load time\n"
      "# although the service's TLS is OpenSSL's: left alone it costs memory for nothing.\n"
      "Environment=GNUTLS_NO_IMPLICIT_INIT=1\n"
      "# SIGTERM is the stop control. Only the service is signalled: the programs it watches and\n"
      "# restarts are the server's applications and keep running.\n"
      "KillMode=process\n"
      "TimeoutStopSec=150\n"
      "# The operations loop sends WATCHDOG=1 from its waits; one that hangs is killed and\n"
      "# restarted (docs/service.md).\n"
      "WatchdogSec=180\n"
      "Restart=on-failure\n"
      "RestartSec=5\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

}  // namespace snxsvc
