// The webhook alerts: the lines of [WEBHOOKS], each format's request, and the rule that a failed
// post is tried once more at the next flush.

#include "alerts/webhook.h"

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include "platform/fake/fake_http_client.h"

namespace {

using snx::alerts::AlertEvent;
using snx::alerts::AlertKind;
using snx::platform::FakeHttpClient;
using snx::settings::WebhookFormat;
using snx::settings::WebhookLine;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

AlertEvent DownEvent() {
  return {AlertKind::kDown,
          "WEB1",
          "2026-12-07T19:00:29+01:00",
          {{"local_url", "http://127.0.0.1:8080/", "down", 503, ""},
           {"program", "/usr/sbin/nginx", "up", std::nullopt, ""}},
          "restart 1 of 3.",
          std::nullopt};
}

TEST(WebhookLine, FormatsAndUrls) {
  // The line, and the format and URL it gives (refused lines: the settings check's tests).
  const std::tuple<const char*, WebhookFormat, const char*> cases[] = {
      {"http://hooks.example/x", WebhookFormat::kJson, "http://hooks.example/x"},
      {" NTFY  https://ntfy.sh/topic ", WebhookFormat::kNtfy, "https://ntfy.sh/topic"},
  };
  for (const auto& [line, format, url] : cases) {
    WebhookLine hook;
    EXPECT_EQ(snx::settings::ParseWebhookLine(line, hook), "") << line;
    EXPECT_EQ(std::tuple(hook.format, hook.url), std::tuple(format, url)) << line;
  }
}

TEST(Webhook, EachFormatsBodyAndHeaders) {
  using nlohmann::json;
  const AlertEvent event = DownEvent();
  const std::string text =
      "WEB1: the server is down (2026-12-07T19:00:29+01:00); http://127.0.0.1:8080/ down (HTTP "
      "503). restart 1 of 3.";
  // The format, its headers and its body.
  const std::tuple<WebhookFormat, std::vector<std::string>, std::string> cases[] = {
      {WebhookFormat::kJson,
       {"Content-Type: application/json"},
       R"({"event":"down","items":[{"error":"","http_status":503,"kind":"local_url",)"
       R"("name":"http://127.0.0.1:8080/","state":"down"},{"error":"","http_status":null,)"
       R"("kind":"program","name":"/usr/sbin/nginx","state":"up"}],"machine":"WEB1",)"
       R"("text":")" +
           text + R"(","time":"2026-12-07T19:00:29+01:00"})"},
      {WebhookFormat::kSlack,
       {"Content-Type: application/json"},
       json{{"content", text}, {"text", text}}.dump()},
      {WebhookFormat::kNtfy,
       {"Content-Type: text/plain; charset=utf-8", "Title: WEB1: the server is down",
        "Priority: urgent", "Tags: rotating_light"},
       text},
  };
  for (const auto& [format, headers, body] : cases) {
    SCOPED_TRACE(snx::settings::WebhookFormatName(format));
    snx::platform::HttpRequest request;
    ASSERT_TRUE(snx::alerts::BuildWebhookRequest({format, "https://h.example:8443/hook?k=1"}, event,
                                                 request));
    EXPECT_EQ(std::tuple(request.method, request.https, request.host, request.port, request.path,
                         request.total_timeout),
              std::tuple("POST", true, "h.example", 8443, "/hook?k=1", std::chrono::seconds(10)));
    EXPECT_EQ(request.headers, headers);
    EXPECT_EQ(request.body, body);
  }
}

TEST(Webhook, TheUpEventCarriesTheOutageAndAHeaderNeverTakesALineEnd) {
  AlertEvent up = DownEvent();
  up.kind = AlertKind::kUp;
  up.machine = "WEB1\r\nX-Evil: 1";
  up.outage_seconds = 125;
  snx::platform::HttpRequest request;
  ASSERT_TRUE(snx::alerts::BuildWebhookRequest({WebhookFormat::kJson, "http://h/"}, up, request));
  const auto object = nlohmann::json::parse(request.body);
  EXPECT_EQ(object["outage_seconds"], 125);
  EXPECT_THAT(std::string(object["text"]), HasSubstr("the outage lasted 2 min 5 s"));
  ASSERT_TRUE(snx::alerts::BuildWebhookRequest({WebhookFormat::kNtfy, "http://h/"}, up, request));
  EXPECT_EQ(request.headers[1], "Title: WEB1\\r\\nX-Evil: 1: the server is up again");
}

TEST(WebhookQueue, AFailedPostIsTriedOnceMoreAtTheNextFlush) {
  FakeHttpClient http;
  http.Answer("ok.example", 80, "/", 200);
  http.Answer("bad.example", 80, "/", 500);
  snx::alerts::CWebhookQueue queue;
  queue.Add({{WebhookFormat::kJson, "http://ok.example/"},
             {WebhookFormat::kSlack, "http://bad.example/"},
             {WebhookFormat::kNtfy, "http://gone.example/"}},
            DownEvent());
  auto answers = [](const std::vector<snx::alerts::WebhookOutcome>& outcomes) {
    std::vector<std::string> out;
    for (const auto& o : outcomes) out.push_back(o.hook.url + " " + o.answer);
    return out;
  };
  EXPECT_THAT(answers(queue.Flush(http)),
              ElementsAre("http://ok.example/ HTTP 200", "http://bad.example/ HTTP 500",
                          "http://gone.example/ no answer: Failed to connect to gone.example port "
                          "80: Connection refused"));
  http.Answer("gone.example", 80, "/", 204);  // back by the next cycle
  EXPECT_THAT(answers(queue.Flush(http)),
              ElementsAre("http://bad.example/ HTTP 500", "http://gone.example/ HTTP 204"));
  EXPECT_TRUE(queue.Empty());  // the second failure is given up
  EXPECT_THAT(queue.Flush(http), ::testing::IsEmpty());
  EXPECT_EQ(http.requests().size(), 5u);
}

}  // namespace
