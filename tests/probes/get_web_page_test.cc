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
  struct Case {
    const char* option;
    bool known;
    std::int32_t access;
    bool strip;
    bool progress;
  };
  const Case cases[] = {
      {"D", true, 0, false, false},  {"d", true, 0, false, false},   {" L ", true, 1, false, false},
      {"s", true, 0, true, false},   {"P", true, 0, false, true},    {"F", true, 0, false, false},
      {"x", false, 0, false, false}, {"DL", false, 0, false, false}, {"", false, 0, false, false},
  };
  for (const auto& c : cases) {
    CGetWebPage::ResetOptions();
    log_.Clear();
    EXPECT_EQ(CGetWebPage::ParseOptions(c.option), c.known) << c.option;
    EXPECT_EQ(CGetWebPage::AccessType(), c.access) << c.option;
    EXPECT_EQ(CGetWebPage::StripMode(), c.strip) << c.option;
    EXPECT_EQ(CGetWebPage::ProgressMode(), c.progress) << c.option;
    EXPECT_EQ(CGetWebPage::RequestFlags(), CGetWebPage::kInitialRequestFlags) << c.option;
    EXPECT_EQ(
        log_.HasError(std::string("CGetWebPage::ParseOptions unrecognized option: ") + c.option),
        !c.known)
        << c.option;
  }
}

TEST_F(GetWebPageTest, RefusedOptionsSendNothing) {
  http_.Answer("h", 80, "/", 200);
  EXPECT_EQ(page_.Go("x", "http://h/"), 1);
  EXPECT_TRUE(http_.requests().empty());
  EXPECT_EQ(page_.StatusCode(), 1u);
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::ParseOptions unrecognized option: x",
                                         "CGetWebPage Go: http://h/", "CGetWebPage:: bad params."));
}

TEST_F(GetWebPageTest, OnlyPlainHttpUrlsAreFetched) {
  for (const char* url :
       {"", "https://h/", "ftp://h/", "HTTPS://h/", "mailto:a@b", "h/index", "http:/h/", "http://",
        "http://h:0/", "http://h:65536/", "http://h:8o/", "http://bad host/", "http://[::1/"}) {
    log_.Clear();
    EXPECT_EQ(page_.Go("D", url), 1) << url;
    EXPECT_EQ(page_.StatusCode(), 1u) << url;
    EXPECT_THAT(log_.Errors(),
                ElementsAre("CGetWebPage:: can only use URLs beginning with http:////",
                            "CGetWebPage::  Exception 1 for this URL: ", url))
        << url;
  }
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(GetWebPageTest, RequestCarriesServerPortObjectHeadersAndBounds) {
  http_.Answer("Web.Example", 8080, "/a/b?c=1", 200);
  EXPECT_EQ(page_.Go("D", " HTTP://Web.Example:8080/a/b?c=1#part "), 0);
  ASSERT_EQ(http_.requests().size(), 1u);
  const auto& r = http_.requests()[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.host, "Web.Example");
  EXPECT_EQ(r.port, 8080);
  EXPECT_EQ(r.path, "/a/b?c=1");
  EXPECT_THAT(r.headers, ElementsAre("Accept: text/*", "User-Agent: MFC_Tear_Sample"));
  EXPECT_FALSE(r.direct);
  EXPECT_EQ(r.connect_timeout, std::chrono::seconds(30));
  EXPECT_EQ(r.total_timeout, std::chrono::seconds(60));
  EXPECT_EQ(r.max_body_bytes, 0u);  // the status is all a test needs
  EXPECT_FALSE(r.on_connected);

  http_.ClearRequests();
  CGetWebPage::SetTimeouts(std::chrono::milliseconds(250), std::chrono::milliseconds(900));
  http_.Answer("h", 80, "/", 200);
  EXPECT_EQ(page_.Go("L", "http://h"), 0);
  ASSERT_EQ(http_.requests().size(), 1u);
  EXPECT_TRUE(http_.requests()[0].direct);
  EXPECT_EQ(http_.requests()[0].path, "/");
  EXPECT_EQ(http_.requests()[0].connect_timeout, std::chrono::milliseconds(250));
  EXPECT_EQ(http_.requests()[0].total_timeout, std::chrono::milliseconds(900));
}

TEST_F(GetWebPageTest, AnyAnswerIsResultZeroAndOnlyTwoHundredsAreGood) {
  const struct {
    std::uint32_t status;
    bool ok;
  } cases[] = {{200, true},  {204, true},  {299, true},  {199, false},
               {300, false}, {304, false}, {404, false}, {500, false}};
  for (const auto& c : cases) {
    log_.Clear();
    http_.Answer("h", 80, "/", c.status);
    EXPECT_EQ(page_.Go("D", "http://h/"), 0) << c.status;
    EXPECT_EQ(page_.StatusCode(), c.status);
    EXPECT_EQ(page_.IsStatusOk(), c.ok) << c.status;
    EXPECT_TRUE(log_.Errors().empty()) << c.status;
    EXPECT_THAT(log_.Events(),
                ElementsAre("CGetWebPage Go: http://h/",
                            "CGetWebPage::  Got status code " + std::to_string(c.status)));
  }
}

TEST_F(GetWebPageTest, LibraryFailureIsResultTwoAndKeepsStatusOne) {
  http_.Answer("h", 80, "/", 200);
  ASSERT_EQ(page_.Go("D", "http://h/"), 0);
  http_.Fail("h", 80, "/", 28, "Operation timed out after 60000 milliseconds");
  EXPECT_EQ(page_.Go("D", "http://h/"), 2);
  EXPECT_EQ(page_.StatusCode(), 1u);  // not the 200 of the fetch before
  EXPECT_FALSE(page_.IsStatusOk());
  EXPECT_THAT(log_.Errors(),
              ElementsAre("CGetWebPage::  WinINet Exception 28: Operation timed out after 60000 "
                          "milliseconds for this URL: ",
                          "http://h/"));

  log_.Clear();
  http_.Fail("h", 80, "/", 7, std::string(5000, 'm'));
  EXPECT_EQ(page_.Go("D", "http://h/"), 2);
  ASSERT_FALSE(log_.Errors().empty());
  EXPECT_EQ(log_.Errors()[0],
            "CGetWebPage::  WinINet Exception 7: " + std::string(1024, 'm') + " for this URL: ");
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

struct RedirectCase {
  const char* name;
  std::uint32_t status;
  std::string raw_headers;  // of the first answer
  std::string next_host;    // where the second request must go
  std::uint16_t next_port;
  std::string next_path;
};

TEST_F(GetWebPageTest, RedirectLocationIsFoundWithoutCaseAndResolved) {
  const RedirectCase cases[] = {
      {"absolute", 302, "HTTP/1.1 302 Found\r\nLocation: http://other:8080/x\r\n\r\n", "other",
       8080, "/x"},
      {"lower-case name", 301, "HTTP/1.1 301 Moved\r\nlocation: http://other/y\r\n\r\n", "other",
       80, "/y"},
      {"blanks and no space", 303,
       "HTTP/1.1 303 See\r\nServer: s\r\nLOCATION:\t  http://other/z  \t\r\n\r\n", "other", 80,
       "/z"},
      {"root-relative", 302, "HTTP/1.1 302 Found\r\nLocation: /login?next=1\r\n\r\n", "h", 81,
       "/login?next=1"},
      {"relative to the folder", 302, "HTTP/1.1 302 Found\r\nLocation: next.html\r\n\r\n", "h", 81,
       "/dir/next.html"},
      {"dot segments", 302, "HTTP/1.1 302 Found\r\nLocation: ../up/./p\r\n\r\n", "h", 81, "/up/p"},
      {"scheme-relative", 302, "HTTP/1.1 302 Found\r\nLocation: //third:99/q\r\n\r\n", "third", 99,
       "/q"},
      {"name inside another header's value", 302,
       "HTTP/1.1 302 Found\r\nX-Note: Location: http://wrong/\r\nLocation: /right\r\n\r\n", "h", 81,
       "/right"},
      {"line feeds only", 302, "HTTP/1.1 302 Found\nLocation: /lf\n\n", "h", 81, "/lf"},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    log_.Clear();
    http_.AnswerRaw("h", 81, "/dir/page", c.status, c.raw_headers);
    http_.Answer(c.next_host, c.next_port, c.next_path, 200);
    EXPECT_EQ(page_.Go("D", "http://h:81/dir/page"), 0) << c.name;
    EXPECT_EQ(page_.StatusCode(), 200u) << c.name;
    EXPECT_TRUE(page_.IsStatusOk()) << c.name;
    ASSERT_EQ(http_.requests().size(), 2u) << c.name;
    EXPECT_EQ(http_.requests()[1].host, c.next_host) << c.name;
    EXPECT_EQ(http_.requests()[1].port, c.next_port) << c.name;
    EXPECT_EQ(http_.requests()[1].path, c.next_path) << c.name;
    EXPECT_THAT(http_.requests()[1].headers,
                ElementsAre("Accept: text/*", "User-Agent: MFC_Tear_Sample"));
    EXPECT_TRUE(log_.Errors().empty()) << c.name;
  }
}

TEST_F(GetWebPageTest, RedirectsThatCannotBeFollowedAreResultTwo) {
  struct Case {
    const char* name;
    std::string raw_headers;
    std::vector<std::string> errors;  // before the exception lines
    std::size_t requests;
  };
  const Case cases[] = {
      {"no location",
       "HTTP/1.1 302 Found\r\nServer: s\r\n\r\n",
       {"CGetWebPage:: Site redirects with no new location"},
       1},
      {"empty location",
       "HTTP/1.1 302 Found\r\nLocation:   \r\n\r\n",
       {"CGetWebPage:: Site redirects with no new location"},
       1},
      {"location only in the body's place",
       "HTTP/1.1 302 Found\r\n\r\nLocation: /x\r\n",
       {"CGetWebPage:: Site redirects with no new location"},
       1},
      {"https",
       "HTTP/1.1 302 Found\r\nLocation: https://h/secure\r\n\r\n",
       {"CGetWebPage::  this redirected URL does not reference a HTTP resource:",
        "https://h/secure"},
       1},
      {"unparsable",
       "HTTP/1.1 301 Moved\r\nLocation: http://bad host/\r\n\r\n",
       {"CGetWebPage:: this redirected URL could not be parsed: ", "http://bad host/"},
       1},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    log_.Clear();
    http_.AnswerRaw("h", 80, "/", 302, c.raw_headers);
    EXPECT_EQ(page_.Go("D", "http://h/"), 2) << c.name;
    auto expected = c.errors;
    expected.push_back("CGetWebPage::  Exception 2 for this URL: ");
    expected.push_back("http://h/");
    EXPECT_EQ(log_.Errors(), expected) << c.name;
    EXPECT_EQ(http_.requests().size(), c.requests) << c.name;
  }
}

TEST_F(GetWebPageTest, SecondAnswerMustBeTwoHundredAndOnlyOneRedirectIsFollowed) {
  http_.Answer("h", 80, "/", 302, {"Location: http://a/"});
  http_.Answer("a", 80, "/", 301, {"Location: http://b/"});
  http_.Answer("b", 80, "/", 200);
  EXPECT_EQ(page_.Go("D", "http://h/"), 2);
  EXPECT_EQ(page_.StatusCode(), 301u);
  EXPECT_EQ(http_.requests().size(), 2u);
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::  Got status code 301",
                                         "CGetWebPage::  Exception 2 for this URL: ", "http://h/"));

  for (std::uint32_t second : {204u, 404u, 401u}) {
    log_.Clear();
    http_.Answer("a", 80, "/", second);
    EXPECT_EQ(page_.Go("D", "http://h/"), 2) << second;
    EXPECT_EQ(page_.StatusCode(), second);
    EXPECT_TRUE(log_.HasError("CGetWebPage::  Got status code " + std::to_string(second)));
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
  ASSERT_EQ(http_.requests().size(), 2u);
  EXPECT_TRUE(http_.requests()[0].on_connected);
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage:: Opening Internet...",
                                         "CGetWebPage:: Caution: redirected to http://h/next"));
  EXPECT_THAT(log_.Events(), ElementsAre("CGetWebPage Go: http://h/", "Connection made!",
                                         "Connection made!", "CGetWebPage::  Got status code 200"));
  // The mode is process-wide: a later "D" fetch still reports.
  log_.Clear();
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

  // The body is read whatever the status; a failed fetch leaves the page text empty.
  http_.Answer("h", 80, "/gone", 404, {}, "not here");
  EXPECT_EQ(page_.ReadPageText("D", "http://h/gone"), 0);
  EXPECT_EQ(page_.PageText().ToString(), "not here");
  EXPECT_EQ(page_.ReadPageText("D", "http://h/refused"), 2);
  EXPECT_EQ(page_.PageText().ToString(), "");
}

TEST_F(GetWebPageTest, PageTextTooLongToKeepStaysEmpty) {
  http_.Answer("h", 80, "/fits", 200, {}, std::string(2046, 'a') + "<" + std::string(3000, 'b'));
  EXPECT_EQ(page_.ReadPageText("D", "http://h/fits"), 0);
  EXPECT_EQ(page_.PageText().Length(), 2046);

  CGetWebPage::ResetOptions();
  http_.Answer("h", 80, "/long", 200, {}, std::string(2047, 'a'));
  EXPECT_EQ(page_.ReadPageText("D", "http://h/long"), 0);
  EXPECT_EQ(page_.PageText().Length(), 0);
}

TEST_F(GetWebPageTest, RemoveMarkupCarriesAnOpenTagIntoTheNextLine) {
  const struct {
    std::vector<std::string> in;
    std::vector<std::string> out;
  } cases[] = {
      {{"a<b>c"}, {"ac"}},
      {{"a<b", "c>d"}, {"a", "d"}},
      {{"", "x"}, {"", "x"}},
      {{"<<a>b>c"}, {"b>c"}},
      {{"1 > 0 < 2", "3>4"}, {"1 > 0 ", "4"}},
  };
  for (const auto& c : cases) {
    CGetWebPage::ResetOptions();
    std::vector<std::string> got;
    for (std::string line : c.in) {
      CGetWebPage::RemoveMarkup(line);
      got.push_back(line);
    }
    EXPECT_EQ(got, c.out);
  }
}

}  // namespace
