// The assurance client with the real QorAssure.dll, loaded through the component layer from a
// temporary install folder whose web-server reset only records that it ran.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/fake/fake_key_store.h"
#include "recovery/insurer.h"
#include "support/test_support.h"

namespace {

std::string BuiltPlugin(const std::string& file) {
  if (const char* dir = std::getenv("SNX_TEST_BIN_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/bin/" + file;
  }
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "bin" / file).string();
}

TEST(AssurancePlugin, APhaseThatHangsPastItsTimeOutResetsTheWebServerOnce) {
  snx::test::TempDir inst;
  inst.Write("iisreset", "#!/bin/sh\necho reset >> \"$(dirname \"$0\")/resets\"\n");
  ::chmod(inst.File("iisreset").c_str(), 0755);
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
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(inst.File("resets")) &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(inst.Read("resets"), "reset\n");
  EXPECT_FALSE(insurer.EndPhase()) << "the phase had overrun";
  const std::string actor_log = inst.Read("QorAssure.log");
  EXPECT_THAT(actor_log, testing::HasSubstr("phase 1 overran its time-out of 100 ms; running"));
  EXPECT_THAT(actor_log, testing::HasSubstr("\"Iisreset.exe\" exited with 0"));
}

}  // namespace
