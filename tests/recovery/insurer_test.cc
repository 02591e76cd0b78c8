// The assurance client over a fake component, and with the real QorAssure.dll loaded through the
// component layer from a temporary install folder whose web-server reset only records that it ran.

#include "recovery/insurer.h"

#include <gmock/gmock.h>

#include "components/fake/fake_actor.h"
#include "components/fake/fake_component_factory.h"
#include "platform/fake/fake_key_store.h"
#include "support/test_support.h"

namespace {

using snx::platform::ComPtr;
using snx::platform::FakeActor;
using snx::platform::Variant;

class InsurerTest : public testing::Test {
 protected:
  void Register() {
    factory_.AddClass({snx::platform::CLSID_Actor, snx::platform::kActorProgId, "Actor"},
                      [this]() -> snx::platform::IUnknown* {
                        actor_ = ComPtr<FakeActor>::Attach(new FakeActor());
                        actor_->configure_answer = configure_answer_;
                        actor_->AddRef();
                        return actor_.Get();
                      });
  }

  snx::test::CapturingLog log_;
  snx::platform::FakeComponentFactory factory_;
  ComPtr<FakeActor> actor_;
  std::int32_t configure_answer_ = -1;
  CInsurer insurer_{factory_};
};

TEST_F(InsurerTest, WithoutTheComponentTheWatchdogWorksOnAndPhasesAnswerNo) {
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_FALSE(insurer_.HasComponent());
  EXPECT_TRUE(log_.HasError("CInsurer::3"));
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_FALSE(insurer_.EndPhase());
}

TEST_F(InsurerTest, SetUpHandsOverTheResetProgramSwitchesAndTimeOut) {
  Register();
  insurer_.SetTimeOut(45000);
  ASSERT_TRUE(insurer_.Initialize());
  EXPECT_EQ(
      std::vector({actor_->Program(), actor_->Switch(1), actor_->Switch(2), actor_->TimeOut()}),
      std::vector({Variant::Text("Iisreset.exe"), Variant::Bool(true), Variant::Bool(false),
                   Variant::Int(45000)}));
  EXPECT_TRUE(log_.HasEvent("CInsurer::8"));
  EXPECT_TRUE(log_.Errors().empty());
  EXPECT_TRUE(insurer_.BeginPhase());
  actor_->phase_answer = 0;
  EXPECT_FALSE(insurer_.EndPhase());

  insurer_.ReleaseInsurer();
  EXPECT_EQ(actor_->RefCount(), 1u) << "the client keeps no reference";
  EXPECT_FALSE(insurer_.BeginPhase());
  EXPECT_EQ(actor_->Begins(), 1);
}

TEST_F(InsurerTest, ARefusedSetUpIsLoggedAndTheComponentStillServesThePhases) {
  configure_answer_ = 0;
  Register();
  EXPECT_TRUE(insurer_.Initialize());
  EXPECT_TRUE(log_.HasError("CInsurer::CreateInsurer failed."));
  EXPECT_TRUE(insurer_.BeginPhase());
}

std::string BuiltPlugin(const std::string& file) {
  if (const char* dir = std::getenv("SNX_TEST_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/bin/" + file;
  }
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "bin" / file).string();
}

TEST(AssurancePlugin, APhaseThatHangsPastItsTimeOutResetsTheWebServerOnce) {
  snx::test::TempDir inst;
  snx::test::WriteScript(inst, "iisreset", "echo reset >> \"$(dirname \"$0\")/resets\"\n");
  std::filesystem::copy_file(BuiltPlugin(snx::platform::kActorFile),
                             inst.File(snx::platform::kActorFile));
  snx::platform::FakeKeyStore keys;
  auto factory = snx::platform::NewPluginComponentFactory(keys);
  ASSERT_EQ(factory->RegisterServer(inst.File(snx::platform::kActorFile), false, nullptr),
            snx::platform::S_OK);

  snx::test::CapturingLog log;
  CInsurer insurer(*factory);
  insurer.SetTimeOut(100);
  ASSERT_TRUE(insurer.Initialize());
  ASSERT_TRUE(insurer.HasComponent()) << testing::PrintToString(log.Errors());
  EXPECT_TRUE(log.HasEvent("CInsurer::8"));

  ASSERT_TRUE(insurer.BeginPhase());
  // The operations thread "hangs": nothing ends the phase.
  EXPECT_TRUE(snx::test::Eventually([&] { return std::filesystem::exists(inst.File("resets")); }));
  // No second reset follows.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(inst.Read("resets"), "reset\n");
  EXPECT_FALSE(insurer.EndPhase()) << "the phase had overrun";
  const std::string actor_log = inst.Read("QorAssure.log");
  EXPECT_THAT(actor_log, testing::HasSubstr("phase 1 overran its time-out of 100 ms; running"));
  EXPECT_THAT(actor_log, testing::HasSubstr("\"Iisreset.exe\" exited with 0"));
}

}  // namespace
