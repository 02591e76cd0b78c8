// snxctl phone-test with the real voice alert plug-in and the recording dial command.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using snx::test::TempDir;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

const std::string kRecordingExample = std::string(SNX_SOURCE_DIR) + "/examples/voice-dial.record";

// An install folder with settings and the recording dial command, and a state root of its own
// for the class keys.
class PhoneTestCommand : public testing::Test {
 protected:
  PhoneTestCommand() {
    std::filesystem::copy_file(kRecordingExample, inst_.File("voice-dial"));
    Settings("PE1=1\nPE2=0\nPE4=T\n");
  }
  void Settings(const std::string& in_use) {
    inst_.Write("plain.txt",
                "[KEYS]\nPNum1=+41 44 111\nPName1=Ann\nPNum2=222\nPName2=Bob\n"
                "PNum4=sip:carl@example.org\nPName4=Carl\nPAck=0\n"
                "MsgDown=The shop is down.\nMsgUp=The shop is up.\n" +
                    in_use);
    ASSERT_EQ(snx::test::Snxctl({"conf", "--dir", inst_.path(), "import", inst_.File("plain.txt")})
                  .exit_code,
              0);
  }
  snx::test::CtlRun PhoneTest(Args args) {
    args.insert(args.begin(), {"phone-test", "--dir", inst_.path()});
    return snx::test::Snxctl(args);
  }
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(inst_.File("voice-dial-calls.txt"))) return lines;
    std::istringstream in(inst_.Read("voice-dial-calls.txt"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  TempDir root_;
  TempDir inst_;
  snx::test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
};

TEST_F(PhoneTestCommand, DownAlertCallsEveryNumberInUseOnce) {
  const snx::test::CtlRun unregistered = PhoneTest({});
  EXPECT_EQ(unregistered.exit_code, 1);
  EXPECT_THAT(unregistered.out, HasSubstr("snxctl register QorVoiceAlert.dll"));
  EXPECT_TRUE(Calls().empty());

  ASSERT_EQ(snx::test::Snxctl({"register", "QorVoiceAlert.dll"}).exit_code, 0);
  const std::string settings_before = inst_.Read("AutoSet.caf");
  const snx::test::CtlRun run = PhoneTest({"--down"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr("delivered: yes"));
  EXPECT_THAT(run.out, HasSubstr("call 2/2 to Carl at sip:carl@example.org [Server is down.]"));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_THAT(calls[0], HasSubstr("\t+41 44 111\tAnn\t0\t"));
  EXPECT_THAT(calls[0], HasSubstr("\tThe shop is down."));
  EXPECT_THAT(calls[1], HasSubstr("\tsip:carl@example.org\tCarl\t0\t"));
  EXPECT_EQ(inst_.Read("AutoSet.caf"), settings_before) << "the settings file is only read";

  // A dial command that fails is reported, and the exit code says so.
  inst_.Write("voice-dial", "#!/bin/sh\nexit 7\n");
  ::chmod(inst_.File("voice-dial").c_str(), 0755);
  const snx::test::CtlRun failed = PhoneTest({"--up"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_THAT(failed.out, HasSubstr("not delivered (exit 7)"));
  EXPECT_THAT(failed.out, HasSubstr("delivered: no"));

  // One that everyone may change is never run.
  inst_.Write("voice-dial", "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n");
  ::chmod(inst_.File("voice-dial").c_str(), 0777);
  const snx::test::CtlRun refused = PhoneTest({});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.out, HasSubstr("not ready: " + inst_.File("voice-dial") +
                                     " is writable by everyone (mode 0777): it is not run"));
  EXPECT_FALSE(std::filesystem::exists(inst_.File("ran.txt")));
}

TEST_F(PhoneTestCommand, UsageAndSettingsWithoutANumberInUse) {
  EXPECT_EQ(PhoneTest({"--up", "--down"}).exit_code, 2);
  EXPECT_EQ(PhoneTest({"--louder"}).exit_code, 2);
  Settings("PE1=0\n");
  const snx::test::CtlRun run = PhoneTest({});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("phone alerts are not set up"));
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
