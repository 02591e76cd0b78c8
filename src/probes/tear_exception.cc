#include "probes/tear_exception.h"

void ThrowTearException(std::int32_t code) { throw CTearException(code); }
