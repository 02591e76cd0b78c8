// Webhooks against a real receiver on loopback: a receiver that hangs is given up at the bound,
// and snxctl notify-test says what each channel answered.

#include "alerts/webhook.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "files/settings_file_writer.h"
#include "integration/subprocess.h"
#include "integration/webhook_receiver.h"
#include "platform/http_client.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

using ::testing::HasSubstr;

TEST(WebhookPost, AReceiverThatHangsIsGivenUpAtTheBound) {
  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());
  alerts::AlertEvent event;
  event.machine = "WEB1";
  const auto started = std::chrono::steady_clock::now();
  const alerts::WebhookOutcome outcome = alerts::PostWebhook(
      platform::Use<platform::HttpClient>(), {settings::WebhookFormat::kJson, hooks.Url("/hang")},
      event, std::chrono::milliseconds(500));
  EXPECT_FALSE(outcome.ok);
  EXPECT_THAT(outcome.answer, HasSubstr("no answer: "));
  // Far below the receiver's minute: the bound ended the wait.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  ASSERT_TRUE(Eventually([&] { return hooks.Posts().size() == 1; }));
  EXPECT_EQ(hooks.Posts()[0].value("body", ""), alerts::EventJson(event));
}

TEST(NotifyTest, EveryChannelIsTriedAndItsAnswerShown) {
  WebhookReceiver hooks;
  ASSERT_TRUE(hooks.Started());
  TempDir install;
  WriteSettings(install, {"[KEYS]", "MachineName=WEB1", "EmailEnabled=0", "[WEBHOOKS]",
                          "ntfy " + hooks.Url("/ntfy"), hooks.Url("/json")});
  const CtlRun good = Snxctl({"notify-test", "--dir", install.path(), "--up"});
  EXPECT_EQ(good.exit_code, 0) << good.out;
  EXPECT_THAT(good.out, HasSubstr("email: off (EmailEnabled)\n"));
  EXPECT_THAT(good.out, HasSubstr("webhook ntfy " + hooks.Url("/ntfy") + ": HTTP 200\n"));
  EXPECT_THAT(good.out, HasSubstr("webhook json " + hooks.Url("/json") + ": HTTP 200\n"));
  const auto posts = hooks.Posts();
  ASSERT_EQ(posts.size(), 2u);
  const auto& ntfy = posts[0]["headers"];
  EXPECT_EQ(ntfy.value("Title", ""), "WEB1: the server is up again");
  EXPECT_EQ(ntfy.value("Tags", ""), "white_check_mark");
  EXPECT_THAT(posts[0].value("body", ""), HasSubstr("snxctl notify-test"));
  EXPECT_EQ(hooks.Count("/json", "\"event\":\"up\""), 1);

  WriteSettings(install, {"[KEYS]", "MachineName=WEB1", "EmailEnabled=0", "[WEBHOOKS]",
                          "slack " + hooks.Url("/fail"), "teams http://x.example/"});
  const CtlRun bad = Snxctl({"notify-test", "--dir", install.path()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_THAT(bad.out, HasSubstr("webhook slack " + hooks.Url("/fail") + ": HTTP 500\n"));
  EXPECT_THAT(bad.out, HasSubstr("webhook teams http://x.example/: \"teams\" is not a webhook"));
  EXPECT_EQ(hooks.Count("/fail", "WEB1: the server is down"), 1);

  EXPECT_EQ(Snxctl({"notify-test", "--dir", install.File("none")}).exit_code, 1);
}

}  // namespace
}  // namespace snx::test
