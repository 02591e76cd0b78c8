#include "platform/process_memory.h"

#include <malloc.h>

namespace snx::platform {

void UseOneMallocArena() { ::mallopt(M_ARENA_MAX, 1); }

}  // namespace snx::platform
