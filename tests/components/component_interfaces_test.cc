// The companions' interfaces keep the slot order the watchdog calls them by: method 1 at
// slot 7, after the seven of the dispatch base.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "components/actor_interface.h"
#include "components/pulse_interface.h"
#include "components/ut_report_interface.h"
#include "components/voice_alert_interface.h"
#include "components/watcher_interface.h"

namespace snx::platform {
namespace {

// The vtable slot of a virtual member function (Itanium C++ ABI: a pointer to a virtual member
// holds 1 + the byte offset of its slot).
template <class F, class C>
std::ptrdiff_t Slot(F C::*member) {
  struct Representation {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  };
  static_assert(sizeof(member) == sizeof(Representation));
  Representation r;
  std::memcpy(&r, &member, sizeof r);
  return static_cast<std::ptrdiff_t>((r.pointer - 1) / sizeof(void*));
}

TEST(ComponentInterfacesTest, CompanionMethodsStandAtTheirSlots) {
  EXPECT_EQ(Slot(&IWatcher::Configure), 7);
  EXPECT_EQ(Slot(&IWatcher::AddCounter), 11);
  EXPECT_EQ(Slot(&IWatcher::TestWorking), 14);
  EXPECT_EQ(Slot(&IWatcher::SetLevel), 15);
  EXPECT_EQ(Slot(&IWatcher::SetCreationCount), 16);
  EXPECT_EQ(Slot(&IWatcher::GetText), 17);

  EXPECT_EQ(Slot(&IActor::Configure), 7);
  EXPECT_EQ(Slot(&IActor::EndPhase), 9);

  EXPECT_EQ(Slot(&IVoiceAlert::AddPhoneAddress), 7);
  EXPECT_EQ(Slot(&IVoiceAlert::SetMessageType), 12);
  EXPECT_EQ(Slot(&IVoiceAlert::GetCallState), 15);
  EXPECT_EQ(Slot(&IVoiceAlert::Configure), 17);
  EXPECT_EQ(Slot(&IVoiceAlert::GetStatus), 18);

  EXPECT_EQ(Slot(&IPulse::Beat), 7);
  EXPECT_EQ(Slot(&IUtReport::Describe), 7);
  EXPECT_EQ(Slot(&IUtReport::Load), 8);
  EXPECT_EQ(Slot(&IUtReport::GetMetrics), 12);
  EXPECT_EQ(Slot(&IUtReport::GetText), 13);
}

}  // namespace
}  // namespace snx::platform
