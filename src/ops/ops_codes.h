#pragma once
// The numbers the operations thread and the command object share: command codes, operations
// states and the remote summary.

#include <cstdint>

// Command codes of the control program.
constexpr std::int32_t SNX_INITIALIZE = 999;
constexpr std::int32_t SNX_GO = 1000;
constexpr std::int32_t SNX_TEST = 1001;
constexpr std::int32_t SNX_STOP = 1003;
constexpr std::int32_t SNX_GET_OPS_STATE = 1004;
constexpr std::int32_t SNX_IS_GO_RUNNING = 1005;
constexpr std::int32_t SNX_PHONE_QUERY_1 = 1008;
constexpr std::int32_t SNX_PHONE_QUERY_2 = 1009;
constexpr std::int32_t SNX_PHONE_QUERY_3 = 1010;
constexpr std::int32_t SNX_PHONE_QUERY_4 = 1011;
constexpr std::int32_t SNX_GET_CURRENT_ACTION = 1012;
constexpr std::int32_t SNX_GET_CURRENT_ACTION_OBJECT = 1013;
// The reboot storm guard, as text "N C W": automatic reboots in the last 24 hours, the
// MaxRebootsPerDay cap (0: none) and the reboots withheld since the service started.
constexpr std::int32_t SNX_GET_REBOOT_GUARD = 1014;
// Why this start of the service resumed Go mode by itself, as text ("" when it did not).
constexpr std::int32_t SNX_GET_RESUME_REASON = 1015;
// The service manager's stop control (SIGTERM) inside the process: a STOP that leaves AutoRun
// as it is, so a service stopped by the system resumes Go at its next start. The command socket
// never passes it on.
constexpr std::int32_t SNX_SERVICE_STOP = 1099;

// Operations states, as OpsCommand(SNX_GET_OPS_STATE) returns them.
constexpr std::int32_t OPS_READY = 999;
constexpr std::int32_t OPS_STOPPED = 1000;
constexpr std::int32_t OPS_GO_IDLE = 1001;
constexpr std::int32_t OPS_GO_TESTING = 1002;
constexpr std::int32_t OPS_GO_RESTARTING = 1003;
constexpr std::int32_t OPS_FAILURES_SEEN = 1004;
constexpr std::int32_t OPS_GO_REMOTE_FAILING = 1005;
constexpr std::int32_t OPS_STOPPING = 1006;

// The summary of a remote URL pass.
constexpr std::int32_t REMOTE_URLS_NONE = 100;
constexpr std::int32_t REMOTE_URLS_ALIVE = 101;
constexpr std::int32_t REMOTE_URLS_FAILING = 102;
