// The reboot storm guard with the real service: snxsvc -Foreground over a temporary state root,
// the recording power facility, minutes of one second, aiosmtpd for the mails and a site that
// stays down, with MaxRebootsPerDay=1.

#include "integration/service_rig.h"
#include "platform/power.h"

namespace snx::test {
namespace {

TEST(RebootGuardEndToEnd, TheServiceRebootsOnceThenWithholdsTheNextRebootWithItsMail) {
  AiosmtpdSink sink;
  ASSERT_TRUE(sink.Started());
  ServiceRig rig;
  rig.Copy("snxsvc");
  ASSERT_TRUE(rig.InstallService());
  rig.ResetStub();
  rig.RestartProgram("MaxWait=30\n");
  // Nothing listens at the URL: the site stays down.
  WriteSettings(rig.install, Concat(Args{"[KEYS]", "AdminId=admin", "Password=secret",
                                         "MachineName=TESTHOST", "MinuteInterval=1", "RstrSecs=1",
                                         "RestartsB4Reboot=1", "MaxRebootsPerDay=1", "WATCH=0"},
                                    EmailKeys(sink.Server()),
                                    Args{"[EMAILS]", "ops@example.org", "[URLS]",
                                         "http://127.0.0.1:" + std::to_string(FreePort()) + "/"}));
  const std::string requests = platform::RebootRequestsPath();
  const auto down_mails = [&] { return CountOf(sink.Spooled(), "Subject: Site down"); };

  {  // First boot, Go by command: the first failure restarts, the second reboots.
    auto service = rig.StartAnswering();
    ASSERT_EQ(Snxctl({"go"}).exit_code, 0);
    ASSERT_TRUE(Eventually([&] { return fs::exists(requests); }, std::chrono::seconds(60)))
        << rig.Log();
    const CtlRun state = SnxctlUntil({"state"}, std::not_fn(InGo), std::chrono::seconds(10));
    EXPECT_THAT(state.out,
                HasSubstr("automatic reboots in the last 24 hours: 1 (MaxRebootsPerDay 1)"));
    EXPECT_FALSE(InGo(state));
    EXPECT_EQ(service->Terminate(std::chrono::seconds(60)), 0) << service->Output();
  }
  EXPECT_EQ(CountOf(Text(rig.root.File("var/lib/snxsvc/reboot-record")), "\n"), 2);  // header, one
  EXPECT_EQ(down_mails(), 1);

  {  // Second boot, as after the reboot: Go resumes by itself; its reboot decision is withheld.
    auto service = rig.Start();
    ASSERT_TRUE(Eventually(
        [&] {
          return rig.Log().find(
                     "Reboot withheld: 1 automatic reboot(s) in the last 24 hours, "
                     "MaxRebootsPerDay is 1.") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << rig.Log();
    EXPECT_TRUE(Eventually([&] { return down_mails() == 2; }, std::chrono::seconds(30)));
    EXPECT_THAT(Snxctl({"state"}).out,
                HasSubstr("(Go loop running)\nautomatic reboots in the last 24 hours: 1 "
                          "(MaxRebootsPerDay 1); reboots withheld: "));
    EXPECT_EQ(service->Terminate(std::chrono::seconds(60)), 0) << service->Output();
  }
  EXPECT_EQ(CountOf(Text(requests), "\n"), 1);  // no second reboot
  EXPECT_EQ(CountOf(rig.Log(), "OnBtnGo() m_iLastKnownServerState == 1002"), 1);  // resumed
  EXPECT_THAT(rig.Log(),
              HasSubstr("Resuming GO mode by itself: the watchdog rebooted the machine"));
}

}  // namespace
}  // namespace snx::test
