#pragma once
// The restart engine over fakes: a virtual clock, a launcher that records, a power facility
// that records, a key store in memory, and a component factory whose watcher is an in-memory
// object. The install folder is a temporary folder; SNX_ROOT points at another one.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "components/component_object.h"
#include "components/fake/fake_component_factory.h"
#include "components/watcher_interface.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_key_store.h"
#include "platform/fake/fake_launcher.h"
#include "platform/fake/fake_power.h"
#include "recovery/instruction.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"
#include "support/test_support.h"

namespace snx::test {

using platform::HRESULT;
using platform::S_OK;
using platform::Variant;

// A fake clock that also runs a hook after every sleep (a file "appearing" during a wait).
class HookClock : public platform::FakeClock {
 public:
  std::function<void()> on_sleep;
  void SleepFor(std::chrono::milliseconds span) override {
    FakeClock::SleepFor(span);
    if (on_sleep) on_sleep();
  }
};

class FakeOwner : public CMenderOwner {
 public:
  void SetOpsState(std::int32_t state) override { ops_state = state; }
  std::int32_t PendingCommand() const override { return pending; }
  bool KillRequested() const override { return kill; }
  std::atomic<std::int32_t> ops_state{0};
  std::atomic<std::int32_t> pending{1000};
  std::atomic<bool> kill{false};
};

// What the in-memory watcher was told, kept outside it so it can be read after it is gone.
struct WatcherRecord {
  std::string folder;
  int creation_count = 0;
  int level = 0;
  int threshold = 0;
  bool accept = true;
  bool ready = true;
  bool working = true;
  int alive = 0;
  std::string text = "Elapsed Time of server stands still";  // what GetText says
};

class MemoryWatcher final : public platform::ComObject<platform::IWatcher> {
 public:
  explicit MemoryWatcher(WatcherRecord& record) : r_(record) { ++r_.alive; }
  HRESULT Configure(Variant* folder, std::int32_t* ready) override {
    r_.folder = folder->TextValue();
    return *ready = r_.ready ? -1 : 0, S_OK;
  }
  HRESULT ClearCounters(std::int32_t*) override { return S_OK; }
  HRESULT GetCounterCount(std::int32_t*) override { return S_OK; }
  HRESULT SampleNow(std::int32_t*) override { return S_OK; }
  HRESULT AddCounter(Variant* path, std::int32_t* accepted) override {
    return *accepted = r_.accept ? -1 : 0, S_OK;
  }
  HRESULT GetCounterPath(Variant*, Variant*) override { return S_OK; }
  HRESULT GetCounterValue(Variant*, Variant*) override { return S_OK; }
  HRESULT TestWorking(Variant* threshold, std::int32_t* working) override {
    r_.threshold = threshold->IntValue();
    return *working = r_.working ? -1 : 0, S_OK;
  }
  HRESULT SetLevel(Variant* level) override { return r_.level = level->IntValue(), S_OK; }
  HRESULT SetCreationCount(Variant* count, std::int32_t*) override {
    return r_.creation_count = count->IntValue(), S_OK;
  }
  HRESULT GetText(Variant* text) override { return *text = Variant::Text(r_.text), S_OK; }

 private:
  ~MemoryWatcher() override { --r_.alive; }
  WatcherRecord& r_;
};

// The fakes the restart engine and the operations thread share, with the in-memory watcher
// registered and SNX_ROOT pointing at a folder of its own.
class EngineFakesTest : public ::testing::Test {
 protected:
  EngineFakesTest() : root_env_("SNX_ROOT", root_.path().c_str()), factory_(&keys_) {
    factory_.AddClass(
        {platform::CLSID_Watcher, platform::kWatcherProgId, "QorPerf Watcher"},
        [this]() -> platform::IUnknown* {
          return static_cast<platform::IWatcher*>(new MemoryWatcher(watcher_));
        },
        platform::kWatcherFile);
  }

  std::string Folder() const { return dir_.path() + "/"; }
  // Writes Sentinex.ini, readable and writable by its owner only.
  void WriteProgram(std::string_view text) {
    dir_.Write("Sentinex.ini", text);
    ::chmod(dir_.File("Sentinex.ini").c_str(), 0600);
  }
  // The text of a value under HKEY_LOCAL_MACHINE, or "(none)".
  std::string Value(std::string_view key_path, std::string_view name) {
    platform::HKEY key = nullptr;
    if (keys_.OpenKey(platform::HKEY_LOCAL_MACHINE, key_path, key) != platform::RegResult::kOk)
      return "(none)";
    platform::RegValue v;
    const bool read = keys_.QueryValue(key, name, v) == platform::RegResult::kOk;
    keys_.CloseKey(key);
    return read ? v.text : "(none)";
  }

  CapturingLog log_;
  TempDir dir_;
  TempDir root_;
  ScopedEnv root_env_;
  HookClock clock_;
  platform::FakeLauncher launcher_;
  platform::FakePower power_;
  platform::FakeKeyStore keys_;
  platform::FakeComponentFactory factory_;
  WatcherRecord watcher_;
};

class MenderTest : public EngineFakesTest {
 protected:
  MenderTest() {
    mender_.SetOwner(&owner_);
    mender_.SetKeepGoingFlag(&go_);
  }
  bool Load(std::string_view text) {
    WriteProgram(text);
    return mender_.LoadProgram(Folder());
  }
  std::vector<std::string> Lines() { return launcher_.CommandLines(); }

  FakeOwner owner_;
  std::atomic<bool> go_{true};
  CMender mender_{clock_, launcher_, power_, keys_, factory_};
};

}  // namespace snx::test
