#pragma once
// CServiceModule: the process shell of the service executable. It reads the command line,
// writes and removes the class keys and the systemd unit, and runs the command socket that
// serves the one command object.
//
// Three ways to run (docs/service.md):
//   service      started by systemd (a NOTIFY_SOCKET, registered with "Service"): the process
//                holds one reference to the command object from start to stop, reports READY,
//                STOPPING and the current action as STATUS, and logs its events to syslog.
//   foreground   "-Foreground": as the service, without systemd; events go to stderr.
//   local server no switch, not started by systemd: the object lives from the first connection
//                to the last close, and the process ends with it. Events go to stdout.
// SIGTERM (and SIGINT) is the stop control in all three: the module sends the command object a
// Stop, closes the socket and its connections, and lets the object go, so its teardown (the
// kill request to the operations thread) runs while the process still stands.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/key_store.h"
#include "platform/line_socket.h"
#include "platform/service_manager.h"
#include "service/isnxsvr.h"

class CServiceModule {
 public:
  // The states reported to the service manager.
  enum ServiceState : std::int32_t {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_STOP_PENDING = 3,
    SERVICE_RUNNING = 4,
  };
  // Control codes of the handler.
  enum ControlCode : std::int32_t {
    SERVICE_CONTROL_STOP = 1,
    SERVICE_CONTROL_PAUSE = 2,
    SERVICE_CONTROL_CONTINUE = 3,
    SERVICE_CONTROL_INTERROGATE = 4,
    SERVICE_CONTROL_SHUTDOWN = 5,
  };
  enum class RunMode { kService, kForeground, kLocalServer };

  static constexpr std::size_t kEventTextSize = 256;

  using ObjectMaker = std::function<std::unique_ptr<ISNXSVR>()>;

  // `executable`: the POSIX path of snxsvc; `root`: the state root ($SNX_ROOT).
  CServiceModule(snx::platform::KeyStore& keys, snx::platform::ServiceManager& manager,
                 std::string executable, std::string root, ObjectMaker make);
  CServiceModule(const CServiceModule&) = delete;
  CServiceModule& operator=(const CServiceModule&) = delete;
  ~CServiceModule();

  void Init();
  // The program entry after Init: the exit code of the process.
  int Main(std::string_view command_line);

  std::int32_t RegisterServer(bool type_library, bool service);
  std::int32_t UnregisterServer();
  bool Install();
  bool Uninstall();
  bool IsInstalled();
  void Start();
  void ServiceMain();
  void Handler(std::int32_t code);
  void ReportStatus(ServiceState state);
  void Run();
  void LogSystemEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::int32_t Lock();
  std::int32_t Unlock();

  // References to the command object: the first makes it, the last destroys it.
  ISNXSVR* AddObjectRef();
  void ReleaseObjectRef();

  RunMode Mode() const { return m_Mode; }
  void SetMode(RunMode mode) { m_Mode = mode; }
  ServiceState State() const { return m_Status.load(); }
  std::int32_t ExitCode() const { return m_iExitCode; }
  // For tests: where the socket listens (the default is $SNX_ROOT/run/snxsvc/snxsvc.sock).
  void SetSocketPath(std::string path) { m_sSocketPath = std::move(path); }

 private:
  bool WriteClassKeys(bool type_library);
  void RemoveClassKeys();
  // Sends the status text when it changed; true when it did.
  bool PublishStatusText();
  void Quit();

  snx::platform::KeyStore& m_Keys;
  snx::platform::ServiceManager& m_Manager;
  std::string m_sExecutable;
  std::string m_sRoot;
  ObjectMaker m_MakeObject;
  std::string m_sServiceName;
  std::string m_sSocketPath;
  RunMode m_Mode = RunMode::kService;
  std::atomic<ServiceState> m_Status{SERVICE_STOPPED};
  std::int32_t m_iExitCode = 0;
  std::atomic<bool> m_bQuit{false};
  std::atomic<std::int32_t> m_lLockCount{0};
  std::mutex m_ObjectMutex;
  std::unique_ptr<ISNXSVR> m_pObject;
  std::string m_sLastStatus;
};

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 character; a text that was cut
// ends at a character boundary (shorter than `limit` when needed).
void CutToCharacter(std::string& text, std::size_t limit);
