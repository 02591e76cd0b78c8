#pragma once
// The settings sections whose entries are watched items, and the item type of each.

#include <cstdint>

#include "probes/item.h"

struct CItemSection {
  const char* section;
  std::int32_t type;
};

inline constexpr CItemSection kItemSections[] = {{"[URLS]", ITEM_LOCAL_URL},
                                                 {"[RURLS]", ITEM_REMOTE_URL},
                                                 {"[PROGS]", ITEM_PROGRAM},
                                                 {"[STOPS]", ITEM_PROGRAM}};
