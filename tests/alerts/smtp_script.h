#pragma once
// A scripted mail server that takes every message.

#include "platform/fake/fake_mail_transport.h"

namespace snx::test {

inline void AcceptAllMail(platform::FakeMailTransport& net) {
  net.Greet({"220 ready\r\n"});
  for (const char* word : {"HELO", "MAIL", "RCPT", "."}) net.OnCommand(word, {"250 ok\r\n"});
  net.OnCommand("DATA", {"354 go ahead\r\n"});
  net.OnCommand("QUIT", {"221 bye\r\n"});
}

}  // namespace snx::test
