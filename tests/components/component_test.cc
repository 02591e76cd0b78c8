#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "components/actor_interface.h"
#include "components/component_factory.h"
#include "components/component_object.h"
#include "components/pulse_interface.h"
#include "components/ut_report_interface.h"
#include "components/voice_alert_interface.h"
#include "components/watcher_interface.h"
#include "platform/fake/fake_key_store.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

// The component layer: identifiers, values, and the real plug-ins registered into and created
// through a key store in memory.
std::string Plugin(const char* file) {
  const char* dir = std::getenv("SNX_TEST_BIN_DIR");
  const auto base =
      dir != nullptr ? std::filesystem::path(dir)
                     : std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
  return (base / "bin" / file).string();
}

TEST(ComponentValuesTest, GuidsReadBackAndRefuseOtherForms) {
  EXPECT_EQ(GuidFromString(GuidToString(CLSID_Watcher)), CLSID_Watcher);
  EXPECT_EQ(GuidFromString("{4d712d04-d64c-467f-8994-4a4aa845bed9}"), CLSID_Watcher);
  for (const char* bad :
       {"", "4D712D04-D64C-467F-8994-4A4AA845BED9", "{4D712D04-D64C-467F-8994-4A4AA845BED}",
        "{4D712D04+D64C-467F-8994-4A4AA845BED9}", "{4D712D04-D64C-467F-8994-4A4AA845BEDG}"}) {
    EXPECT_FALSE(GuidFromString(bad)) << bad;
  }
}

TEST(ComponentValuesTest, VariantsReadAsTheKindAsked) {
  EXPECT_EQ(
      (std::vector{Variant::Bool(true).AsInt(), Variant::Text("-42").AsInt(),
                   Variant::Text("4x").AsInt(), Variant::Text("").AsInt(), Variant().AsInt()}),
      (std::vector<std::optional<std::int32_t>>{-1, -42, {}, {}, {}}));
}

TEST(ComponentObjectTest, CountsReferencesAndAnswersForEachOfItsInterfacesOnly) {
  struct Both final : ComObject<IPulse, IUtReportJson> {
    HRESULT Beat(std::int32_t* alive) override { return *alive = -1, S_OK; }
    HRESULT GetJson(Variant* json) override { return *json = Variant::Text("{}"), S_OK; }
  };
  const long before = ModuleObjectCount().load();
  ComPtr<IPulse> pulse;
  ASSERT_EQ(HandOver(static_cast<IPulse*>(new Both), IPulse::kIid, pulse.PutVoid()), S_OK);
  EXPECT_EQ(ModuleObjectCount().load(), before + 1);
  ComPtr<IWatcher> wrong;
  EXPECT_EQ(pulse->QueryInterface(IWatcher::kIid, wrong.PutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(wrong);
  // A later interface is found beside the first, with one count and one identity.
  ComPtr<IUtReportJson> json;
  ASSERT_EQ(pulse->QueryInterface(IUtReportJson::kIid, json.PutVoid()), S_OK);
  Variant text;
  ASSERT_EQ(json->GetJson(&text), S_OK);
  EXPECT_EQ(text.TextValue(), "{}");
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(json->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
  EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(pulse.Get())) << "one identity";
  ComPtr<IPulse> copy = pulse;
  pulse.Reset();
  unknown.Reset();
  json.Reset();
  EXPECT_EQ(ModuleObjectCount().load(), before + 1) << "a copy keeps it alive";
  copy.Reset();
  EXPECT_EQ(ModuleObjectCount().load(), before) << "deleted at the last release";
}

class PluginFactoryTest : public ::testing::Test {
 protected:
  // The shared object at `path` is in this process's memory.
  static bool Mapped(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    return std::string(std::istreambuf_iterator<char>(maps), {}).find(path) != std::string::npos;
  }
  FakeKeyStore keys_;
  std::unique_ptr<ComponentFactory> factory_ = NewPluginComponentFactory(keys_);
};

TEST_F(PluginFactoryTest, APluginOthersMayChangeIsRefusedAtRegisterAndAtEveryUse) {
  test::TempDir dir;
  const std::string file = dir.File("QorPulse.dll");
  std::filesystem::copy_file(Plugin(kPulseFile), file);
  ::chmod(file.c_str(), 0755);
  std::string why;
  ASSERT_EQ(factory_->RegisterServer(file, false, &why), S_OK) << why;
  EXPECT_FALSE(Mapped(file)) << "registering makes no object: the plug-in is let go";
  ComPtr<IPulse> pulse;
  ASSERT_EQ(factory_->CreateByProgID(kPulseProgId, IPulse::kIid, pulse.PutVoid(), &why), S_OK)
      << why;
  EXPECT_TRUE(Mapped(file)) << "an object's plug-in is kept";
  std::int32_t alive = 0;
  EXPECT_TRUE(pulse->Beat(&alive) == S_OK && alive == -1);
  pulse.Reset();

  ::chmod(file.c_str(), 0757);  // loaded before: still refused from now on
  const std::string refused =
      "refused: the plug-in " + file + " is writable by everyone (mode 0757)";
  EXPECT_NE(factory_->CreateByProgID(kPulseProgId, IPulse::kIid, pulse.PutVoid(), &why), S_OK);
  EXPECT_EQ(why, refused);
  EXPECT_FALSE(pulse);
  ASSERT_EQ(factory_->RegisterServer(file, true, &why), CO_E_DLLNOTFOUND);
  EXPECT_EQ(why, refused);

  // Never loaded, in a folder its group may write to.
  test::TempDir shared;
  ::chmod(shared.path().c_str(), 0775);
  std::filesystem::copy_file(Plugin(kPulseFile), shared.File("QorPulse.dll"));
  EXPECT_EQ(factory_->RegisterServer(shared.File("QorPulse.dll"), false, &why), CO_E_DLLNOTFOUND);
  EXPECT_EQ(why, "refused: the plug-in " + shared.File("QorPulse.dll") + " lies in " +
                     shared.path() + "/, a folder writable by its group (mode 0775)");
}

TEST_F(PluginFactoryTest, FilesThatCannotServeFailClearly) {
  test::TempDir dir;
  dir.Write("Text.dll", "not an object file");
  // The file, the result of its registration, and what the reason says.
  const std::tuple<std::string, HRESULT, const char*> cases[] = {
      {dir.File("Text.dll"), CO_E_DLLNOTFOUND, "not a plug-in"},
      {dir.path(), CO_E_DLLNOTFOUND, "not a file"},
      {"/lib/x86_64-linux-gnu/libm.so.6", CO_E_ERRORINDLL, "has no entry"},
  };
  for (const auto& [path, expected, says] : cases) {
    std::string why;
    EXPECT_EQ(factory_->RegisterServer(path, false, &why), expected) << path;
    EXPECT_NE(why.find(says), std::string::npos) << why;
  }
  // A class without keys, then one whose keys name a file that is gone.
  ComPtr<IPulse> pulse;
  EXPECT_EQ(factory_->CreateInstance(CLSID_Pulse, IPulse::kIid, pulse.PutVoid()),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(RegisterClassKeys(keys_, {CLSID_Pulse, kPulseProgId, "x"}, dir.File("Gone.dll")), S_OK);
  EXPECT_EQ(factory_->CreateInstance(CLSID_Pulse, IPulse::kIid, pulse.PutVoid()), CO_E_DLLNOTFOUND);
  // A plug-in asked for a class it does not serve.
  ASSERT_EQ(RegisterClassKeys(keys_, {CLSID_Watcher, kWatcherProgId, "x"}, Plugin(kPulseFile)),
            S_OK);
  EXPECT_EQ(factory_->CreateInstance(CLSID_Watcher, IWatcher::kIid, pulse.PutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
}

// The companions' interfaces keep the slot order the watchdog calls them by: method 1 at
// slot 7, after the seven of the dispatch base.
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
  EXPECT_EQ(
      (std::vector<std::ptrdiff_t>{
          Slot(&IWatcher::Configure), Slot(&IWatcher::AddCounter), Slot(&IWatcher::TestWorking),
          Slot(&IWatcher::SetLevel), Slot(&IWatcher::SetCreationCount), Slot(&IWatcher::GetText),
          Slot(&IActor::Configure), Slot(&IActor::EndPhase), Slot(&IVoiceAlert::AddPhoneAddress),
          Slot(&IVoiceAlert::SetMessageType), Slot(&IVoiceAlert::GetCallState),
          Slot(&IVoiceAlert::Configure), Slot(&IVoiceAlert::GetStatus), Slot(&IPulse::Beat),
          Slot(&IUtReport::Describe), Slot(&IUtReport::Load), Slot(&IUtReport::GetMetrics),
          Slot(&IUtReport::GetText)}),
      (std::vector<std::ptrdiff_t>{7, 11, 14, 15, 16, 17, 7, 9, 7, 12, 15, 17, 18, 7, 7, 8, 12,
                                   13}));
}

}  // namespace
}  // namespace snx::platform
