#include "probes/url_parse.h"

#include <gtest/gtest.h>

namespace {

using snx::probes::ParseUrl;
using snx::probes::ResolveReference;
using snx::probes::UrlParts;
using snx::probes::UrlService;

TEST(UrlParseTest, SplitsServerPortAndObject) {
  const struct {
    const char* url;
    UrlService service;
    const char* host;
    int port;
    const char* object;
  } cases[] = {
      {"http://h", UrlService::kHttp, "h", 80, "/"},
      {"http://h/", UrlService::kHttp, "h", 80, "/"},
      {"HTTP://Host.Example:8080/A/b.html", UrlService::kHttp, "Host.Example", 8080, "/A/b.html"},
      {"http://h?q=1", UrlService::kHttp, "h", 80, "/?q=1"},
      {"http://h/p?q=1#frag", UrlService::kHttp, "h", 80, "/p?q=1"},
      {"http://user:secret@h:81/p", UrlService::kHttp, "h", 81, "/p"},
      {"http://[::1]:8080/x", UrlService::kHttp, "::1", 8080, "/x"},
      {"http://h:/p", UrlService::kHttp, "h", 80, "/p"},
      {"  http://h/p  ", UrlService::kHttp, "h", 80, "/p"},
      {"http://h/a b\r\nX: y", UrlService::kHttp, "h", 80, "/a%20b%0D%0AX:%20y"},
      {"https://h/", UrlService::kHttps, "h", 443, "/"},
      {"ftp://h/f", UrlService::kFtp, "h", 21, "/f"},
  };
  for (const auto& c : cases) {
    UrlParts parts;
    ASSERT_TRUE(ParseUrl(c.url, parts)) << c.url;
    EXPECT_EQ(parts.service, c.service) << c.url;
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.object, c.object) << c.url;
  }
}

TEST(UrlParseTest, RefusesWhatIsNoUrl) {
  for (const char* url :
       {"", "   ", "h/x", "://h/", "1http://h/", "http:h/", "http:/h/", "http://", "http:///p",
        "http://h:0/", "http://h:65536/", "http://h:123456/", "http://h:-1/", "http://h h/",
        "http://h\x01/", "http://[::1/", "http://[::1]x/", "http://[zz]/"}) {
    UrlParts parts;
    EXPECT_FALSE(ParseUrl(url, parts)) << url;
  }
}

TEST(UrlParseTest, ResolvesRedirectTargetsAgainstTheRequest) {
  UrlParts base;
  ASSERT_TRUE(ParseUrl("http://h:81/a/b/c?x=1", base));
  const struct {
    const char* reference;
    const char* resolved;
  } cases[] = {
      {"http://other/p", "http://other/p"},
      {"HTTPS://other/p", "HTTPS://other/p"},
      {"//other:82/p", "http://other:82/p"},
      {"/root", "http://h:81/root"},
      {"d", "http://h:81/a/b/d"},
      {"./d", "http://h:81/a/b/d"},
      {"../d", "http://h:81/a/d"},
      {"../../../../d", "http://h:81/d"},
      {"d/../e/./f", "http://h:81/a/b/e/f"},
      {"?y=2", "http://h:81/a/b/c?y=2"},
      {"#top", "http://h:81/a/b/c?x=1"},
      {"  /spaced  ", "http://h:81/spaced"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveReference(base, c.reference), c.resolved) << c.reference;
  }
}

}  // namespace
