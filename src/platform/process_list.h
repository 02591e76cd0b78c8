#pragma once
// The running processes as the watchdog sees them: for each process whose executable can be
// read, its id, the full path of its executable and the file name of that path.

#include <string>
#include <vector>

#include "platform/installed.h"

namespace snx::platform {

struct ProcessInfo {
  int pid = 0;
  std::string executable_path;  // full path of the program file the process runs
  std::string base_name;        // the last component of that path ("nginx", "python3.11")
};

class ProcessList {
 public:
  virtual ~ProcessList() = default;
  // Fills `out` with every process that can be read, in ascending order of id. Processes that
  // cannot be read (kernel threads, processes of other users without the rights, processes that
  // end while the list is made) are left out. False only when no list can be had at all.
  virtual bool Snapshot(std::vector<ProcessInfo>& out) = 0;
};

template <>
ProcessList& DefaultFacility<ProcessList>();

}  // namespace snx::platform
