#pragma once
// How the process takes its memory.

namespace snx::platform {

// One malloc arena for all threads. A thread that allocates otherwise gets an arena of its own,
// whose pages stay with the process; the service's threads allocate little and seldom at the
// same moment. Call first thing in main, before any thread starts.
void UseOneMallocArena();

}  // namespace snx::platform
