// The fetch's decisions, against a scripted HTTP facility: which URLs are refused, what a
// status means, the one redirect, the password challenge, library failures and the page text.

#include "probes/get_web_page.h"

#include <gmock/gmock.h>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_http_client.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class GetWebPageTest : public ::testing::Test {
 protected:
  void TearDown() override { CGetWebPage::ResetOptions(); }  // they are process-wide
  // The watchdog's fetch, with a fresh log.
  int Go(const std::string& url) {
    log_.Clear();
    return page_.Go("D", url);
  }
  // The fetch's result and the status it kept.
  std::tuple<int, std::uint32_t> Fetched(const std::string& url) {
    const int result = Go(url);
    return {result, page_.StatusCode()};
  }
  // ReadPageText's result and the text it kept.
  std::tuple<int, std::string> Read(const std::string& url) {
    const int result = page_.ReadPageText("D", url);
    return {result, page_.PageText().ToString()};
  }

  FakeHttpClient http_;
  ScopedInstall<HttpClient> install_{http_};
  test::CapturingLog log_;
  CGetWebPage page_;
};

TEST_F(GetWebPageTest, BadOptionsAndAllButHttpAndHttpsUrlsAreNeverFetched) {
  EXPECT_EQ(page_.Go("x", "http://h/"), 1);
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::ParseOptions unrecognized option: x",
                                         "CGetWebPage Go: http://h/", "CGetWebPage:: bad params."));
  for (const char* url :
       {"", "ftp://h/", "FTP://h/", "file:///etc/passwd", "mailto:a@b", "h/index", "http:/h/",
        "http://", "http://h:0/", "http://h:8o/", "http://bad host/"}) {
    EXPECT_EQ(Fetched(url), std::tuple(1, 1u)) << url;
    EXPECT_THAT(log_.Errors(),
                ElementsAre("CGetWebPage:: can only use URLs beginning with http:////",
                            "CGetWebPage::  Exception 1 for this URL: ", url));
  }
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(GetWebPageTest, RequestCarriesServerPortObjectHeadersAndBounds) {
  // Nothing of the URL reaches the request line as it stands when it could break it; the
  // user name, password and fragment are never sent.
  http_.Answer("Web.Example", 8080, "/a/b%0D%0AX:%20y?c=1", 200);
  EXPECT_EQ(Go(" HTTP://user:pw@Web.Example:8080/a/b\r\nX: y?c=1#part "), 0);
  http_.Answer("h", 80, "/", 200);
  CGetWebPage::SetTimeouts(250ms, 900ms);
  EXPECT_EQ(page_.Go(" l ", "http://h"), 0);
  ASSERT_EQ(http_.requests().size(), 2u);
  const auto& r = http_.requests()[0];
  EXPECT_THAT(r.headers, ElementsAre("Accept: text/*", "User-Agent: MFC_Tear_Sample"));
  // Never unbounded; no body: the status is all a test needs.
  EXPECT_EQ(std::tuple(r.direct, r.connect_timeout, r.total_timeout, r.max_body_bytes),
            std::tuple(false, 30s, 60s, 0u));
  const auto& l = http_.requests()[1];
  EXPECT_EQ(std::tuple(l.direct, l.connect_timeout, l.total_timeout),
            std::tuple(true, 250ms, 900ms));
}

TEST_F(GetWebPageTest, AnyAnswerIsResultZeroAndOnlyTwoHundredsAreGood) {
  for (std::uint32_t status : {199u, 200u, 299u, 300u, 307u, 404u, 500u}) {
    http_.Answer("h", 80, "/", status);
    EXPECT_EQ(Fetched("http://h/"), std::tuple(0, status));
    EXPECT_EQ(page_.IsStatusOk(), status >= 200 && status <= 299) << status;
    EXPECT_EQ(log_.lines().back().text, "CGetWebPage::  Got status code " + std::to_string(status));
    EXPECT_TRUE(log_.Errors().empty()) << status;
  }
}

TEST_F(GetWebPageTest, FailureAndPasswordChallengeAreNeverSuccesses) {
  http_.Answer("h", 80, "/", 200);
  ASSERT_EQ(Go("http://h/"), 0);
  http_.Fail("h", 80, "/", 28, std::string(5000, 'm'));
  EXPECT_EQ(Fetched("http://h/"), std::tuple(2, 1u));  // not the 200 of the fetch before
  EXPECT_THAT(log_.Errors(), ElementsAre("CGetWebPage::  WinINet Exception 28: " +
                                             std::string(1024, 'm') + " for this URL: ",
                                         "http://h/"));
  http_.Answer("h", 80, "/private", 401, {"WWW-Authenticate: Basic realm=\"x\""});
  EXPECT_EQ(Fetched("http://h/private"), std::tuple(1, 401u));
  EXPECT_EQ(http_.requests().size(), 3u);  // no one to ask for a password: never retried
  EXPECT_THAT(log_.Errors(),
              ElementsAre("CGetWebPage:: Access denied: Invalid password",
                          "CGetWebPage::  Exception 1 for this URL: ", "http://h/private"));
}

// The raw header text of a 302 answer with these header lines.
std::string Moved(const std::string& lines, const char* end = "\r\n") {
  return std::string("HTTP/1.1 302 F") + end + lines + end;
}

TEST_F(GetWebPageTest, RedirectLocationIsFoundWithoutCaseAndResolved) {
  const struct {
    std::string raw_headers;  // of the first answer, to http://h:81/dir/page
    std::string target;       // host:port/path of the second request
  } cases[] = {
      {Moved("Location: http://other:8080/x\r\n"), "other:8080/x"},
      {Moved("Server: s\r\nlOCATION:\t  http://o/z  \t\r\n"), "o:80/z"},
      {Moved("Location: /login?n=1\r\n"), "h:81/login?n=1"},
      {Moved("Location: next.html\r\n"), "h:81/dir/next.html"},
      {Moved("Location: ../up/./p\r\n"), "h:81/up/p"},
      {Moved("Location: ../../../x#top\r\n"), "h:81/x"},
      {Moved("Location: ?y=2\r\n"), "h:81/dir/page?y=2"},
      {Moved("Location: //third:99/q\r\n"), "third:99/q"},
      {Moved("X-N: Location: http://wrong/\r\nLocation: /r\r\n"), "h:81/r"},
      {Moved("Location: /lf\n", "\n"), "h:81/lf"},
      {Moved("Location: http://[::1]:82/a b\r\n"), "::1:82/a%20b"},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    http_.AnswerRaw("h", 81, "/dir/page", 302, c.raw_headers);
    Go("http://h:81/dir/page");
    ASSERT_EQ(http_.requests().size(), 2u) << c.raw_headers;
    const auto& r = http_.requests()[1];
    EXPECT_EQ(r.host + ":" + std::to_string(r.port) + r.path, c.target);
    EXPECT_EQ(r.headers, http_.requests()[0].headers);
  }
}

TEST_F(GetWebPageTest, RedirectsThatCannotBeFollowedAreResultTwo) {
  const std::string none = "CGetWebPage:: Site redirects with no new location";
  http_.Answer("a", 80, "/", 303, {"Location: http://b/"});  // a second redirect
  http_.Answer("b", 80, "/", 200);
  http_.Answer("c", 80, "/", 204);
  const struct {
    std::string raw_headers;
    Lines errors;  // before the exception lines
  } cases[] = {
      {Moved("Server: s\r\n"), {none}},
      {Moved("Location:   \r\n"), {none}},
      {Moved("") + "Location: /x\r\n", {none}},  // after the end of the header lines
      {Moved("Location: ftp://h/s\r\n"),
       {"CGetWebPage::  this redirected URL does not reference a HTTP resource:", "ftp://h/s"}},
      {Moved("Location: http://bad host/\r\n"),
       {"CGetWebPage:: this redirected URL could not be parsed: ", "http://bad host/"}},
      // A hostile server's control characters reach the log as escapes, never raw.
      {Moved("Location: http://x\x1b]0;owned\x07\x1b[2J/\r\n"),
       {"CGetWebPage:: this redirected URL could not be parsed: ",
        "http://x\\x1b]0;owned\\x07\\x1b[2J/"}},
      {Moved("Location: http://a/\r\n"), {"CGetWebPage::  Got status code 303"}},
      {Moved("Location: http://c/\r\n"), {"CGetWebPage::  Got status code 204"}},
  };
  for (const auto& c : cases) {
    http_.ClearRequests();
    http_.AnswerRaw("h", 80, "/", 302, c.raw_headers);
    EXPECT_EQ(Go("http://h/"), 2) << c.raw_headers;
    Lines expected = c.errors;
    expected.insert(expected.end(), {"CGetWebPage::  Exception 2 for this URL: ", "http://h/"});
    EXPECT_EQ(log_.Errors(), expected);
    // Only a redirect to an http URL is asked for, and never more than one.
    const bool asked = expected[0].starts_with("CGetWebPage::  Got status code");
    EXPECT_EQ(http_.requests().size(), asked ? 2u : 1u) << c.raw_headers;
  }
  http_.Answer("h", 80, "/", 302, {"Location: http://refused/"});
  // The first answer's status; the second never came.
  EXPECT_EQ(Fetched("http://h/"), std::tuple(2, 302u));
}

// Each answer takes `delay` of the clock; one that would outlast its request's bound fails as a
// timed-out request does, at the bound.
TEST(GetWebPageDeadlineTest, ARedirectGetsWhatIsLeftOfTheOneBound) {
  FakeClock clock;
  ScopedInstall<Clock> use_clock(clock);
  test::CapturingLog log;
  CGetWebPage::SetTimeouts(400ms, 1000ms);
  for (const auto delay : {300ms, 700ms}) {
    FakeHttpClient http;
    ScopedInstall<HttpClient> use_http(http);
    http.on_fetch = [&](const HttpRequest& r) {
      clock.Advance(std::min<std::chrono::milliseconds>(delay, r.total_timeout));
    };
    http.Answer("h", 80, "/", 302, {"Location: /next"});
    if (delay == 300ms) {
      http.Answer("h", 80, "/next", 200);
    } else {
      http.Fail("h", 80, "/next", 28, "Operation timed out");
    }
    const auto start = clock.MonoNow();
    CGetWebPage page;
    EXPECT_EQ(page.Go("D", "http://h/"), delay == 300ms ? 0 : 2) << delay.count();
    EXPECT_LE(clock.MonoNow() - start, 1000ms) << delay.count();
    ASSERT_EQ(http.requests().size(), 2u);
    EXPECT_EQ(http.requests()[1].total_timeout, 1000ms - delay);
    EXPECT_EQ(http.requests()[1].connect_timeout,
              std::min<std::chrono::milliseconds>(400ms, 1000ms - delay));
  }
  CGetWebPage::ResetOptions();
}

TEST_F(GetWebPageTest, ReadPageTextKeepsTheFinalBodyWithoutMarkup) {
  http_.Answer("h", 80, "/", 302, {"Location: /page"}, "<p>moved</p>");
  http_.Answer("h", 80, "/page", 200, {}, "<b>Hi</b> 1 > 0\r\n<a\nhref=x>link</a> <<i>b>c\n");
  // A tag left open goes on into the next line; a tag does not nest.
  EXPECT_EQ(Read("http://h/"), std::tuple(0, "Hi 1 > 0\r\nlink b>c\n"));
  EXPECT_EQ(http_.requests()[1].max_body_bytes, CGetWebPage::kMaxBodyBytes);
  EXPECT_TRUE(log_.HasEvent("CGetWebPage ReadPageText: http://h/"));
  const struct {
    std::uint32_t status;
    std::string body, text;
  } cases[] = {
      {404, "not here", "not here"},  // read whatever the status
      {200, std::string(2046, 'a') + "<" + std::string(3000, 'b'), std::string(2046, 'a')},
      {200, "next page", "next page"},    // a tag left open on one page ends with that page
      {200, std::string(2047, 'a'), ""},  // too long to keep
  };
  for (const auto& c : cases) {
    http_.Answer("h", 80, "/other", c.status, {}, c.body);
    EXPECT_EQ(Read("http://h/other"), std::tuple(0, c.text));
  }
  EXPECT_EQ(Read("http://h/refused"), std::tuple(2, ""));
}

// https: the request asks for TLS with the CA file and the proxy of the settings; a refused
// certificate says why; a redirect down to http is never followed.
TEST_F(GetWebPageTest, HttpsCarriesItsSettingsAndNeverRedirectsDownToHttp) {
  CGetWebPage::SetCaFile("/etc/ca.pem");
  http_.Answer("h", 443, "/", 302, {"Location: http://h/"});
  http_.Answer("h", 80, "/", 200);
  EXPECT_EQ(Go("https://h/"), 2);
  ASSERT_EQ(http_.requests().size(), 1u);
  const auto& r = http_.requests()[0];  // never the environment's proxy
  EXPECT_EQ(std::tuple(r.https, r.ca_file, r.proxy), std::tuple(true, "/etc/ca.pem", ""));
  http_.Fail("h", 443, "/", 60, "SSL certificate problem: certificate has expired");
  http_.Scripted("h", 443, "/").cert_problem = "expired";
  EXPECT_EQ(Go("https://h/"), 2);
  EXPECT_EQ(page_.CertProblem(), "expired");
  EXPECT_EQ(log_.Errors().front(), "CGetWebPage:: certificate not trusted: expired");
  // Up from http to https is followed, and the certificate's end is kept.
  http_.Answer("h", 80, "/up", 301, {"Location: https://h/"});
  http_.Answer("h", 443, "/", 200);
  http_.Scripted("h", 443, "/").cert_expiry = 1900000000;
  EXPECT_EQ(Go("http://h/up"), 0);
  EXPECT_EQ(page_.CertExpiry(), 1900000000);
}

}  // namespace
}  // namespace snx::platform
