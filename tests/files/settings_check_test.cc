// The settings check: each bad settings file gives its lines, a sound one none.

#include "files/settings_check.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace {

using snx::settings::CheckSettingsLines;
using Lines = std::vector<std::string>;

struct Case {
  const char* what;
  Lines file;
  Lines expected;
  bool dial_command = true;
};

const Lines kEmailOn = {"SmtpServer=mail.example.com:587",
                        "EmailFrom=watch@example.com",
                        "EmailBodyDown=down",
                        "EmailBodyUp=up",
                        "EmailUrl=http://example.com/",
                        "EmailEnabled=1"};

Lines Keys(Lines keys, Lines after = {}) {
  keys.insert(keys.begin(), "[KEYS]");
  keys.insert(keys.end(), after.begin(), after.end());
  return keys;
}

Lines With(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SettingsCheck, EachBadFileGivesItsLines) {
  const Case cases[] = {
      {"sound",
       Keys(With(kEmailOn, {"MinuteInterval=5", "WATCH=0", "SvrStatus=rebooting"}),
            {"[EMAILS]", "ops@example.com", "[URLS]", "https://127.0.0.1:8443/a?b"}),
       {}},
      {"misspelt key",
       Keys({"EmailEnabeld=1", "Colour=blue"}),
       {"AutoSet.caf line 2: unknown key EmailEnabeld: did you mean EmailEnabled?",
        "AutoSet.caf line 3: unknown key Colour: the service does not read it"}},
      {"misspelt section",
       {"[KEYS]", "[EMIALS]", "a@b.c", "[Extra]"},
       {"AutoSet.caf line 2: unknown section [EMIALS]: did you mean [EMAILS]?",
        "AutoSet.caf line 4: unknown section [Extra]: its lines are not read"}},
      {"wrong types and ranges",
       Keys({"MinuteInterval=abc", "RstrSecs=12x", "Sensitivity=101", "minuteinterval=5",
             "WATCH=yes", "SvrStatus=Down"}),
       {"AutoSet.caf line 2: MinuteInterval=abc: expected a whole number from 1 to 1440 (the "
        "service reads 0)",
        "AutoSet.caf line 3: RstrSecs=12x: expected a whole number from 0 to 86400 (the service "
        "reads 12)",
        "AutoSet.caf line 4: Sensitivity=101: expected a whole number from 0 to 100 (the service "
        "reads 101)",
        "AutoSet.caf line 5: minuteinterval is set again; only the first, on line 2, counts",
        "AutoSet.caf line 6: WATCH=yes: expected 1 (yes) or 0 (no); \"yes\" counts as no",
        "AutoSet.caf line 7: SvrStatus=Down: expected Up, Restarting or Rebooting; the service "
        "reads Up"}},
      {"addresses, URLs and the mail server",
       Keys({"EmailFrom=ops at example", "SmtpServer=mail:99999", "PulseUrl=kuma/push"},
            {"[EMAILS]", "a@b@c", "[RURLS]", "http//x"}),
       {"AutoSet.caf line 2: EmailFrom=ops at example: expected an e-mail address (name@domain)",
        "AutoSet.caf line 3: SmtpServer=mail:99999: expected a mail server: host or host:port",
        "AutoSet.caf line 4: PulseUrl=kuma/push: expected an http:// or https:// URL",
        "AutoSet.caf line 6: \"a@b@c\" in [EMAILS] is not an e-mail address",
        "AutoSet.caf line 8: \"http//x\" is not an http:// or https:// URL"}},
      {"lines the service never reads",
       {"MinuteInterval=5", "[KEYS]", "NoEquals", "[URLS]", "http://a/[x]", "http://b/"},
       {"AutoSet.caf line 1: \"MinuteInterval=5\" stands before any section and is not read",
        "AutoSet.caf line 3: \"NoEquals\" in [KEYS] is not KEY=VALUE",
        "AutoSet.caf line 5: \"http://a/[x]\" holds \"[\", which ends its section: the lines "
        "after it up to the next section are not read"}},
      {"phone on without a dial command",
       Keys({"PNum2=555", "PE2=1", "PE4=T", "MsgDown=d", "MsgUp=u"}),
       {"AutoSet.caf: PE4 is on but PNum4 is empty",
        "AutoSet.caf: phone alerts are on but there is no dial command: install an executable "
        "voice-dial in the install folder"},
       false},
      {"phone on without its messages",
       Keys({"PNum1=555", "PE1=1", "MsgDown=d"}),
       {"AutoSet.caf: phone alerts stay off: MsgDown and MsgUp must both be set"}},
      {"mail on without what it needs",
       Keys({"EmailEnabled=1", "SmtpServer=mail"}),
       {"AutoSet.caf: EmailEnabled is on but EmailFrom is empty: no mail goes out",
        "AutoSet.caf: EmailEnabled is on but EmailBodyDown is empty: no mail goes out",
        "AutoSet.caf: EmailEnabled is on but EmailBodyUp is empty: no mail goes out",
        "AutoSet.caf: EmailEnabled is on but EmailUrl is empty: no mail goes out",
        "AutoSet.caf: EmailEnabled is on but [EMAILS] lists no address"}},
      {"mail security",
       Keys(With(kEmailOn, {"SmtpSecurity=ssl", "SmtpUser=watch"}),
            {"[EMAILS]", "ops@example.com"}),
       {"AutoSet.caf line 8: SmtpSecurity=ssl: expected none, starttls or tls; the service sends "
        "no mail"}},
      {"a login without TLS",
       Keys(With(kEmailOn,
                 {"SmtpSecurity=None", "SmtpUser=watch", "SmtpPassword=s", "CaFile=/etc/ca.pem"}),
            {"[EMAILS]", "ops@example.com"}),
       {"AutoSet.caf: SmtpUser is set but SmtpSecurity is none: the login is never sent in "
        "clear"}},
      {"content lines",
       Keys({"EmailUrl=http://mail.test/", "SlowMs=-1"},
            {"[CONTENT]", "http://a/ Welcome", "http://mail.test/ !portal", "http://b/ !",
             "justtext", "ftp://c/ x", "http://gone/ x", "[URLS]", "http://a/"}),
       {"AutoSet.caf line 3: SlowMs=-1: expected a whole number from 0 to 86400000 (the service "
        "reads -1)",
        "AutoSet.caf line 7: \"http://b/ !\" in [CONTENT] is not URL TEXT or URL !TEXT",
        "AutoSet.caf line 8: \"justtext\" in [CONTENT] is not URL TEXT or URL !TEXT",
        "AutoSet.caf line 9: \"ftp://c/\" in [CONTENT] is not an http:// or https:// URL",
        "AutoSet.caf line 10: \"http://gone/\" in [CONTENT] is not in [URLS] or [RURLS] nor the "
        "EmailUrl: its line checks nothing"}},
      {"webhook lines",
       Keys({}, {"[webhooks]", "https://h.example/x", "NTFY http://n.example/t", "teams http://t/",
                 "slack mailto:x@y"}),
       {"AutoSet.caf line 5: \"teams\" is not a webhook format (json, ntfy, slack) in [WEBHOOKS]",
        "AutoSet.caf line 6: \"mailto:x@y\" is not an http:// or https:// URL in [WEBHOOKS]"}},
  };
  for (const Case& c : cases) {
    snx::settings::SettingsCheckOptions options;
    options.dial_command_present = c.dial_command;
    EXPECT_EQ(CheckSettingsLines(c.file, options), c.expected) << c.what;
  }
}

TEST(SettingsCheck, NearestNameOnlyWhenClose) {
  const std::vector<std::string_view> names = {"Stop", "Start", "EmailEnabled", "MinuteInterval"};
  EXPECT_EQ(snx::settings::NearestName("STRAT", names), "Start");
  EXPECT_EQ(snx::settings::NearestName("minuteintervall", names), "MinuteInterval");
  EXPECT_EQ(snx::settings::NearestName("Reboot", names), "");
  EXPECT_EQ(snx::settings::NearestName("Go", names), "");
}

}  // namespace
