#pragma once
// One connection to the command socket: it holds one reference to the command object for as
// long as it lives, and answers each request line by calling the object.

#include <string>
#include <string_view>

#include "platform/line_socket.h"
#include "service/isnxsvr.h"

class CServiceModule;

// The answer line to one request line (docs/service.md, "The command socket").
std::string AnswerRequestLine(ISNXSVR& object, std::string_view line);

class CCommandSession : public snx::platform::LineSession {
 public:
  explicit CCommandSession(CServiceModule& module);
  ~CCommandSession() override;
  CCommandSession(const CCommandSession&) = delete;
  CCommandSession& operator=(const CCommandSession&) = delete;

  std::string Answer(std::string_view line) override;

 private:
  CServiceModule& m_Module;
  ISNXSVR* m_pObject;
};
