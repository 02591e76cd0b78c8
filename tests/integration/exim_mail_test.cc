// snxctl mail-test through Debian's exim4, a real mail server, started on a loopback port with a
// configuration of its own in a temporary folder (its spool, logs and root's mailbox are there
// too; the machine's own mail setup is left alone). One address it does not know stands beside
// root's: root gets the alert, and exim's log shows the dialogue ended properly.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "files/settings_file_writer.h"
#include "integration/subprocess.h"
#include "support/loopback_http_server.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kExim = "/usr/sbin/exim4";

std::string EximConfig(const std::string& dir) {
  return "primary_hostname = snx-test.localdomain\n"
         "domainlist local_domains = localhost : snx-test.localdomain\n"
         "local_interfaces = 127.0.0.1\n"
         "spool_directory = " +
         dir +
         "/spool\n"
         "log_file_path = " +
         dir +
         "/%slog\n"
         "pid_file_path = " +
         dir +
         "/exim.pid\n"
         "exim_user = Debian-exim\n"
         "exim_group = Debian-exim\n"
         "keep_environment =\n"
         "tls_advertise_hosts =\n"
         "host_lookup =\n"
         "rfc1413_hosts =\n"
         "acl_smtp_rcpt = check_rcpt\n"
         "begin acl\n"
         "check_rcpt:\n"
         "  require domains = +local_domains\n"
         "  require verify = recipient\n"
         "  accept\n"
         "begin routers\n"
         "root_only:\n"
         "  driver = accept\n"
         "  domains = +local_domains\n"
         "  local_parts = root\n"
         "  transport = mailbox\n"
         "begin transports\n"
         "mailbox:\n"
         "  driver = appendfile\n"
         "  file = " +
         dir +
         "/root.mbox\n"
         "  user = Debian-exim\n"
         "  group = Debian-exim\n";
}

// A port free a moment ago, for exim to listen on.
std::uint16_t FreePort() {
  std::uint16_t port = 0;
  const int fd = snx::test::ListenOnLoopback(port);
  if (fd >= 0) ::close(fd);
  return port;
}

TEST(EximMailTest, RootGetsTheAlertBesideARefusedAddressAndTheDialogueEndsWithQuit) {
  if (!std::filesystem::exists(kExim)) GTEST_SKIP() << "no " << kExim << " (exim4-daemon-light)";
  if (::geteuid() != 0) GTEST_SKIP() << "exim4 takes a configuration of its own only from root";
  snx::test::TempDir exim;
  std::filesystem::permissions(exim.path(), std::filesystem::perms::all);  // for Debian-exim
  exim.Write("exim.conf", EximConfig(exim.path()));
  const std::uint16_t port = FreePort();
  snx::test::Child daemon(
      {kExim, "-C", exim.File("exim.conf"), "-bdf", "-oX", std::to_string(port)}, true);
  std::string log;
  for (int i = 0; i < 100 && log.find("listening for SMTP") == std::string::npos; ++i) {
    usleep(50000);
    if (std::filesystem::exists(exim.File("mainlog"))) log = exim.Read("mainlog");
  }
  if (log.find("listening for SMTP") == std::string::npos) {
    GTEST_SKIP() << "exim4 did not start: " << daemon.Output() << log;
  }

  snx::test::TempDir install;
  snx::test::WriteSettings(
      install, {"[KEYS]", "SmtpServer=127.0.0.1:" + std::to_string(port),
                "EmailFrom=watch@localhost", "EmailSubjectDn=Server down", "EmailSubject=Server up",
                "EmailBodyDown=The server is down.", "EmailBodyUp=.",
                "EmailUrl=http://127.0.0.1:1/", "[EMAILS]", "nobody@localhost", "root@localhost"});
  const auto run = snx::test::Snxctl({"mail-test", "--dir", install.path(), "--wait", "10"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr("sent: yes\nrefused: nobody@localhost\n"));

  std::string mailbox;
  for (int i = 0; i < 100 && mailbox.find("The server is down.") == std::string::npos; ++i) {
    usleep(50000);
    if (std::filesystem::exists(exim.File("root.mbox"))) mailbox = exim.Read("root.mbox");
  }
  EXPECT_THAT(mailbox, HasSubstr("\nSubject: Server down\n"));
  EXPECT_THAT(mailbox, HasSubstr("\nThe server is down.\n"));
  log = exim.Read("mainlog");
  EXPECT_THAT(log, HasSubstr("rejected RCPT <nobody@localhost>"));
  EXPECT_THAT(log, HasSubstr("=> root <root@localhost>"));
  for (const char* complaint :
       {"unexpected disconnection", "SMTP protocol", "synchronization error", "connection lost",
        "lost while", "command timeout", "dropped"}) {
    EXPECT_THAT(log, Not(HasSubstr(complaint)));
  }
}

}  // namespace
