// The fetch's decisions, against a scripted HTTP facility: options, which URLs are refused,
// what a status means, the one redirect, the password challenge and library failures.

#include "probes/get_web_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_http_client.h"
#include "support/test_support.h"

namespace {

using snx::platform::FakeHttpClient;
using snx::platform::HttpClient;
using snx::platform::ScopedInstall;
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

class GetWebPageTest : public ::testing::Test {
 protected:
  void SetUp() override { CGetWebPage::ResetOptions(); }
  void TearDown() override { CGetWebPage::ResetOptions(); }

  FakeHttpClient http_;
  ScopedInstall<HttpClient> install_{http_};
  snx::test::CapturingLog log_;
  CGetWebPage page_;
};

TEST_F(GetWebPageTest, OptionsAreMatchedWithoutCaseAndBlanks) {
  const struct {
    const char* option;
    bool known;
    std::int32_t access;
    bool strip, progress;
  } cases[] = {{"D", true, 0, false, false},   {"d", true, 0, false, false},
               {" L ", true, 1, false, false}, {"s", true, 0, true, false},
               {"P", true, 0, false, true},    {"F", true, 0, false, false},
               {"x", false, 0, false, false},  {"DL", false, 0, false, false}};
  for (const auto& c : cases) {
    CGetWebPage::ResetOptions();
    log_.Clear();
    EXPECT_EQ(CGetWebPage::ParseOptions(c.option), c.known) << c.option;
    EXPECT_EQ(CGetWebPage::AccessType(), c.access) << c.option;
    EXPECT_EQ(CGetWebPage::StripMode(), c.strip) << c.option;
    EXPECT_EQ(CGetWebPage::ProgressMode(), c.progress) << c.option;
    EXPECT_EQ(CGetWebPage::RequestFlags(), CGetWebPage::kInitialRequestFlags) << c.option;
    EXPECT_EQ(log_.Errors().size(), c.known ? 0u : 1u) << c.option;
  }
  log_.Clear();
  EXPECT_EQ(page_.Go("x", "http://h/"), 1);
  EXPECT_TRUE(http_.requests().empty());
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::ParseOptions unrecognized option: x",
                                         "CGetWebPage Go: http://h/", "CGetWebPage:: bad params."));
}

TEST_F(GetWebPageTest, OnlyPlainHttpUrlsAreFetched) {
  for (const char* url :
       {"", "https://h/", "ftp://h/", "HTTPS://h/", "mailto:a@b", "h/index", "http:/h/", "http://",
        "http://h:0/", "http://h:8o/", "http://bad host/"}) {
    log_.Clear();
    EXPECT_EQ(page_.Go("D", url), 1) << url;
    EXPECT_EQ(page_.StatusCode(), 1u) << url;
    EXPECT_THAT(log_.Errors(),
                ElementsAre("CGetWebPage:: can only use URLs beginning with http:////",
                            "CGetWebPage::  Exception 1 for this URL: ", url));
  }
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(GetWebPageTest, RequestCarriesServerPortObjectHeadersAndBounds) {
  // Nothing of the URL reaches the request line as it stands when it could break it.
  http_.Answer("Web.Example", 8080, "/a/b%0D%0AX:%20y?c=1", 200);
  EXPECT_EQ(page_.Go("D", " HTTP://user:pw@Web.Example:8080/a/b\r\nX: y?c=1#part "), 0);
  http_.Answer("h", 80, "/", 200);
  CGetWebPage::SetTimeouts(std::chrono::milliseconds(250), std::chrono::milliseconds(900));
  EXPECT_EQ(page_.Go("L", "http://h"), 0);
  ASSERT_EQ(http_.requests().size(), 2u);
  const auto& r = http_.requests()[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.host, "Web.Example");
  EXPECT_EQ(r.port, 8080);
  EXPECT_EQ(r.path, "/a/b%0D%0AX:%20y?c=1");
  EXPECT_THAT(r.headers, ElementsAre("Accept: text/*", "User-Agent: MFC_Tear_Sample"));
  EXPECT_FALSE(r.direct);
  EXPECT_EQ(r.connect_timeout, std::chrono::seconds(30));  // never unbounded
  EXPECT_EQ(r.total_timeout, std::chrono::seconds(60));
  EXPECT_EQ(r.max_body_bytes, 0u);  // the status is all a test needs
  EXPECT_FALSE(r.on_connected);
  const auto& l = http_.requests()[1];
  EXPECT_TRUE(l.direct);
  EXPECT_EQ(l.path, "/");
  EXPECT_EQ(l.connect_timeout, std::chrono::milliseconds(250));
  EXPECT_EQ(l.total_timeout, std::chrono::milliseconds(900));
}

TEST_F(GetWebPageTest, AnyAnswerIsResultZeroAndOnlyTwoHundredsAreGood) {
  for (std::uint32_t status : {199u, 200u, 204u, 299u, 300u, 304u, 404u, 500u}) {
    log_.Clear();
    http_.Answer("h", 80, "/", status);
    EXPECT_EQ(page_.Go("D", "http://h/"), 0) << status;
    EXPECT_EQ(page_.StatusCode(), status);
    EXPECT_EQ(page_.IsStatusOk(), status >= 200 && status <= 299) << status;
    EXPECT_TRUE(log_.Errors().empty()) << status;
    EXPECT_THAT(log_.Events(),
                ElementsAre("CGetWebPage Go: http://h/",
                            "CGetWebPage::  Got status code " + std::to_string(status)));
  }
}

TEST_F(GetWebPageTest, LibraryFailureIsResultTwoAndKeepsStatusOne) {
  http_.Answer("h", 80, "/", 200);
  ASSERT_EQ(page_.Go("D", "http://h/"), 0);
  http_.Fail("h", 80, "/", 28, std::string(5000, 'm'));
  EXPECT_EQ(page_.Go("D", "http://h/"), 2);
  EXPECT_EQ(page_.StatusCode(), 1u);  // not the 200 of the fetch before
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::  WinINet Exception 28: " +
                                             std::string(1024, 'm') + " for this URL: ",
                                         "http://h/"));
}

TEST_F(GetWebPageTest, PasswordChallengeIsRefusedAndNeverRetried) {
  http_.Answer("h", 80, "/private", 401, {"WWW-Authenticate: Basic realm=\"x\""});
  EXPECT_EQ(page_.Go("D", "http://h/private"), 1);
  EXPECT_EQ(page_.StatusCode(), 401u);
  EXPECT_EQ(http_.requests().size(), 1u);
  EXPECT_THAT(log_.Errors(),
              ElementsAre("CGetWebPage:: Access denied: Invalid password",
                          "CGetWebPage::  Exception 1 for this URL: ", "http://h/private"));
}

TEST_F(GetWebPageTest, RedirectLocationIsFoundWithoutCaseAndResolved) {
  const struct {
    const char* name;
    std::string raw_headers;  // of the first answer, to http://h:81/dir/page
    std::string host;         // where the second request must go
    std::uint16_t port;
    std::string path;
  } cases[] = {
      {"absolute", "HTTP/1.1 302 F\r\nLocation: http://other:8080/x\r\n\r\n", "other", 8080, "/x"},
      {"lower-case name", "HTTP/1.1 301 M\r\nlocation: http://other/y\r\n\r\n", "other", 80, "/y"},
      {"blanks", "HTTP/1.1 303 S\r\nServer: s\r\nLOCATION:\t  http://o/z  \t\r\n\r\n", "o", 80,
       "/z"},
      {"root-relative", "HTTP/1.1 302 F\r\nLocation: /login?n=1\r\n\r\n", "h", 81, "/login?n=1"},
      {"folder-relative", "HTTP/1.1 302 F\r\nLocation: next.html\r\n\r\n", "h", 81,
       "/dir/next.html"},
      {"dot segments", "HTTP/1.1 302 F\r\nLocation: ../up/./p\r\n\r\n", "h", 81, "/up/p"},
      {"scheme-relative", "HTTP/1.1 302 F\r\nLocation: //third:99/q\r\n\r\n", "third", 99, "/q"},
      {"name inside a value",
       "HTTP/1.1 302 F\r\nX-N: Location: http://wrong/\r\nLocation: /r\r\n\r\n", "h", 81, "/r"},
      {"line feeds only", "HTTP/1.1 302 F\nLocation: /lf\n\n", "h", 81, "/lf"},
      {"query only", "HTTP/1.1 302 F\r\nLocation: ?y=2\r\n\r\n", "h", 81, "/dir/page?y=2"},
      {"above the root", "HTTP/1.1 302 F\r\nLocation: ../../../x#top\r\n\r\n", "h", 81, "/x"},
      {"IPv6 with blanks in the path", "HTTP/1.1 302 F\r\nLocation: http://[::1]:82/a b\r\n\r\n",
       "::1", 82, "/a%20b"},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    log_.Clear();
    http_.AnswerRaw("h", 81, "/dir/page", 302, c.raw_headers);
    http_.Answer(c.host, c.port, c.path, 200);
    EXPECT_EQ(page_.Go("D", "http://h:81/dir/page"), 0) << c.name;
    EXPECT_EQ(page_.StatusCode(), 200u) << c.name;
    ASSERT_EQ(http_.requests().size(), 2u) << c.name;
    EXPECT_THAT(http_.requests()[1].headers,
                ElementsAre("Accept: text/*", "User-Agent: MFC_Tear_Sample"));
    EXPECT_TRUE(log_.Errors().empty()) << c.name;
  }
}

TEST_F(GetWebPageTest, RedirectsThatCannotBeFollowedAreResultTwo) {
  const std::string no_location = "CGetWebPage:: Site redirects with no new location";
  const struct {
    const char* name;
    std::string raw_headers;
    Lines errors;  // before the exception lines
  } cases[] = {
      {"no location", "HTTP/1.1 302 F\r\nServer: s\r\n\r\n", {no_location}},
      {"empty location", "HTTP/1.1 302 F\r\nLocation:   \r\n\r\n", {no_location}},
      {"after the header end", "HTTP/1.1 302 F\r\n\r\nLocation: /x\r\n", {no_location}},
      {"https",
       "HTTP/1.1 302 F\r\nLocation: https://h/s\r\n\r\n",
       {"CGetWebPage::  this redirected URL does not reference a HTTP resource:", "https://h/s"}},
      {"unparsable",
       "HTTP/1.1 301 M\r\nLocation: http://bad host/\r\n\r\n",
       {"CGetWebPage:: this redirected URL could not be parsed: ", "http://bad host/"}},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    log_.Clear();
    http_.AnswerRaw("h", 80, "/", 302, c.raw_headers);
    EXPECT_EQ(page_.Go("D", "http://h/"), 2) << c.name;
    Lines expected = c.errors;
    expected.push_back("CGetWebPage::  Exception 2 for this URL: ");
    expected.push_back("http://h/");
    EXPECT_EQ(log_.Errors(), expected) << c.name;
    EXPECT_EQ(http_.requests().size(), 1u) << c.name;
  }
}

TEST_F(GetWebPageTest, SecondAnswerMustBeTwoHundredAndOnlyOneRedirectIsFollowed) {
  http_.Answer("h", 80, "/", 302, {"Location: http://a/"});
  http_.Answer("b", 80, "/", 200);
  for (std::uint32_t second : {301u, 204u, 404u, 401u}) {
    log_.Clear();
    http_.ClearRequests();
    http_.Answer("a", 80, "/", second, {"Location: http://b/"});
    EXPECT_EQ(page_.Go("D", "http://h/"), 2) << second;
    EXPECT_EQ(page_.StatusCode(), second);
    EXPECT_EQ(http_.requests().size(), 2u);
    EXPECT_THAT(log_.Errors(),
                ElementsAre("CGetWebPage::  Got status code " + std::to_string(second),
                            "CGetWebPage::  Exception 2 for this URL: ", "http://h/"));
  }
  log_.Clear();
  http_.Fail("a", 80, "/", 7, "refused");
  EXPECT_EQ(page_.Go("D", "http://h/"), 2);
  EXPECT_EQ(page_.StatusCode(), 302u);
  EXPECT_TRUE(log_.HasError("CGetWebPage::  WinINet Exception 7: refused for this URL: "));
}

TEST_F(GetWebPageTest, ProgressModeReportsEachStep) {
  http_.Answer("h", 80, "/", 302, {"Location: /next"});
  http_.Answer("h", 80, "/next", 200);
  EXPECT_EQ(page_.Go("P", "http://h/"), 0);
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage:: Opening Internet...",
                                         "CGetWebPage:: Caution: redirected to http://h/next"));
  EXPECT_THAT(log_.Events(), ElementsAre("CGetWebPage Go: http://h/", "Connection made!",
                                         "Connection made!", "CGetWebPage::  Got status code 200"));
  log_.Clear();  // the mode is process-wide: a later "D" fetch still reports
  EXPECT_EQ(page_.Go("D", "http://h/next"), 0);
  EXPECT_TRUE(log_.HasEvent("Connection made!"));
}

TEST_F(GetWebPageTest, ReadPageTextKeepsTheFinalBodyWithoutMarkup) {
  http_.Answer("h", 80, "/", 302, {"Location: /page"}, "<p>moved</p>");
  http_.Answer("h", 80, "/page", 200, {}, "<html><b>Hello</b> world\r\n<a\nhref=x>link</a> end\n");
  EXPECT_EQ(page_.ReadPageText("D", "http://h/"), 0);
  EXPECT_EQ(page_.PageText().ToString(), "Hello world\r\nlink end\n");
  EXPECT_TRUE(CGetWebPage::StripMode());
  EXPECT_EQ(http_.requests()[1].max_body_bytes, CGetWebPage::kMaxBodyBytes);
  EXPECT_THAT(log_.Events(), ElementsAre("CGetWebPage ReadPageText: http://h/",
                                         "CGetWebPage::  Got status code 200"));
  const struct {
    std::uint32_t status;
    std::string body;
    int result;
    std::string text;
  } cases[] = {
      {404, "not here", 0, "not here"},  // read whatever the status
      {200, std::string(2046, 'a') + "<" + std::string(3000, 'b'), 0, std::string(2046, 'a')},
      {200, std::string(2047, 'a'), 0, ""},  // too long to keep
  };
  for (const auto& c : cases) {
    http_.Answer("h", 80, "/other", c.status, {}, c.body);
    EXPECT_EQ(page_.ReadPageText("D", "http://h/other"), c.result);
    EXPECT_EQ(page_.PageText().ToString(), c.text);
    CGetWebPage::ResetOptions();
  }
  EXPECT_EQ(page_.ReadPageText("D", "http://h/refused"), 2);
  EXPECT_EQ(page_.PageText().ToString(), "");
}

TEST_F(GetWebPageTest, RemoveMarkupCarriesAnOpenTagIntoTheNextLine) {
  const struct {
    Lines in, out;
  } cases[] = {{{"a<b>c"}, {"ac"}},
               {{"a<b", "c>d"}, {"a", "d"}},
               {{"", "x"}, {"", "x"}},
               {{"<<a>b>c"}, {"b>c"}},
               {{"1 > 0 < 2", "3>4"}, {"1 > 0 ", "4"}}};
  for (const auto& c : cases) {
    CGetWebPage::ResetOptions();
    Lines got;
    for (std::string line : c.in) {
      CGetWebPage::RemoveMarkup(line);
      got.push_back(line);
    }
    EXPECT_EQ(got, c.out);
  }
}

}  // namespace
