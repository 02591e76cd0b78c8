#pragma once
// The process's right to inspect other processes (the system's "SeDebugPrivilege"): root, or
// the capability CAP_SYS_PTRACE in the effective set.

namespace snx::platform {

bool HasDebugPrivilege();

}  // namespace snx::platform
