#pragma once
// The operations thread over fakes: a virtual clock (installed for everything that asks for
// one), a recording launcher and power facility, a key store in memory, components in memory
// (watcher, voice alert, assurance actor), a scripted SMTP server, scripted web answers and a
// process list of the test's making. Go runs on the test's own thread; a hook on the clock
// plays the part of time passing between cycles. The figures go to a metrics file in a folder
// of their own.

#include <algorithm>

#include "alerts/smtp_script.h"
#include "components/fake/fake_actor.h"
#include "components/fake/fake_voice_alert.h"
#include "files/settings_file_writer.h"
#include "ops/ops_mngr_thread.h"
#include "ops/ops_owner.h"
#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_http_client.h"
#include "platform/fake/fake_process_list.h"
#include "platform/path_map.h"
#include "recovery/mender_fixture.h"

namespace snx::test {

using Lines = std::vector<std::string>;

inline const char* kSiteHost = "site.test";
inline const char* kLocalUrl = "http://site.test/";
inline const char* kRemoteUrl = "http://far.test/";

// Keys every test needs: the required ones, e-mail and phone alerts on.
inline Lines BaseKeys() {
  // clang-format off
  Lines keys = {"[KEYS]", "AdminId=admin", "Password=secret", "MachineName=WEB1",
                "MinuteInterval=10", "RstrSecs=30", "RestartsB4Reboot=2", "EmailEnabled=1",
                "PNum1=5551234", "PName1=Admin", "PE1=1", "MsgDown=Server down", "MsgUp=Server up"};
  // clang-format on
  for (auto& k : EmailKeys("mail.test", "http://probe.test/")) keys.push_back(k);
  keys.insert(keys.end(), {"[EMAILS]", "admin@example.org"});
  return keys;
}

// How often `needle` occurs in `text`.
inline int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class OpsTest : public EngineFakesTest {
 protected:
  OpsTest()
      : mail_(&clock_),
        facilities_{clock_,
                    launcher_,
                    power_,
                    keys_,
                    factory_,
                    mail_,
                    platform::kStandardMinute,
                    metrics_dir_.File("snxsvc.prom")} {
    factory_.AddClass(
        {platform::CLSID_VoiceAlert, platform::kVoiceAlertProgId, "Voice"},
        [this] { return Kept<platform::IVoiceAlert>(voice_); }, platform::kVoiceAlertFile);
    factory_.AddClass({platform::CLSID_Actor, platform::kActorProgId, "Actor"},
                      [this] { return Kept<platform::IActor>(actor_); });
    mail_.AddHost("mail.test", "192.0.2.25");
    AcceptAllMail(mail_);
    SetSite(200);
    clock_.on_sleep = [this] { OnSleep(); };
    // Installed as "snxsvc -Service" leaves it: the unit that brings the service back.
    std::filesystem::create_directories(root_.File("etc/systemd/system"));
    root_.Write(platform::kServiceUnitFile, "[Unit]\n");
  }
  // A new component object, also kept by the test.
  template <class Interface, class T>
  platform::IUnknown* Kept(platform::ComPtr<T>& kept) {
    kept = platform::ComPtr<T>::Attach(new T());
    kept->AddRef();
    return static_cast<Interface*>(kept.Get());
  }

  // The AutoRun mark as a service that was in Go mode leaves it, with how it ended ("Reboot",
  // "Stopped", "Running"; nullptr: none written). The next thread start reads it.
  void SetAutoRun(const char* value, const char* last_end = nullptr) {
    platform::HKEY key = nullptr;
    ASSERT_EQ(keys_.CreateKey(platform::HKEY_LOCAL_MACHINE, COpsMngrThread::kAutoRunKey, key),
              platform::RegResult::kOk);
    keys_.SetValue(key, "AutoRun", platform::RegValue::String(value));
    if (last_end != nullptr) {
      keys_.SetValue(key, CMender::kLastEndValue, platform::RegValue::String(last_end));
    }
    keys_.CloseKey(key);
  }
  // A value under the AutoRun key, "(none)" when missing.
  std::string AutoRunValue(const char* name) { return Value(COpsMngrThread::kAutoRunKey, name); }

  // Writes the settings file, loads it as the command object does and gives it to the owner.
  void Load(Lines lines) {
    WriteProgram("MaxWait=300\n");  // a restart program without sections
    LoadSettings(dir_, lines, image_, settings_);
    owner_.SetSettings(&settings_);
    owner_.SetProgramDirectory(Folder());
    ASSERT_TRUE(owner_.InitializeCommandEvent());
  }
  // Base keys with these changed or added, and more sections after them.
  static Lines With(const Lines& keys, const Lines& sections = {"[URLS]", kLocalUrl}) {
    Lines out = BaseKeys();
    for (const auto& k : keys) {
      const std::string name = k.substr(0, k.find('=') + 1);
      auto at = std::find_if(out.begin(), out.end(),
                             [&](const std::string& l) { return l.rfind(name, 0) == 0; });
      if (at != out.end()) {
        *at = k;
      } else {
        out.insert(out.begin() + 1, k);
      }
    }
    out.insert(out.end(), sections.begin(), sections.end());
    return out;
  }

  // The local site answers this status from now on.
  void SetSite(std::uint32_t status, std::string_view path = "/") {
    http_.Answer(kSiteHost, 80, path, status);
  }

  // Start-up as the thread does it, then Go with the GO command pending.
  void StartAndGo() {
    thread_.Initialize();
    Go();
  }
  // Start-up as the thread does it, with the GO command pending.
  void GoReady() {
    thread_.Initialize();
    owner_.m_bGo = true;
    thread_.SetCommand(SNX_GO);
  }
  // Go on the started thread.
  void Go() {
    owner_.m_bGo = true;
    thread_.SetCommand(SNX_GO);
    thread_.Go();
  }

  // Called once per cycle as its wait begins, with the number of the cycle (from 1).
  std::function<void(int cycle)> on_wait;
  // Ends Go at the wait after `cycles` cycles, as a STOP command does.
  void StopAfter(int cycles) {
    on_wait = [this, cycles](int cycle) {
      if (cycle >= cycles) Stop();
    };
  }
  void Stop() {
    owner_.m_bGo = false;
    owner_.m_bTest = false;
    owner_.m_iOpsState = OPS_STOPPING;
    thread_.SetCommand(SNX_STOP);
  }

  // What went out.
  int MailsWithSubject(const std::string& subject) const {
    return CountOf(mail_.SentBytes(), "Subject: " + subject + "\r\n");
  }
  int PhoneCalls(const std::string& message) const {
    return voice_ ? voice_->CountOf("SetMessage " + message) : 0;
  }
  int Restarts() const {
    int n = 0;
    for (const auto& l : launcher_.CommandLines()) n += l == "IISRESET.exe";
    return n;
  }
  // The value of the metrics file's sample named exactly so ("name{labels}" or "name"), or -1
  // (no file, no such sample).
  std::int64_t MetricSample(const std::string& name) const {
    const std::string text = "\n" + metrics_dir_.Read("snxsvc.prom");
    const std::string needle = "\n" + name + " ";
    const auto at = text.find(needle);
    return at == std::string::npos ? -1 : std::stoll(text.substr(at + needle.size()));
  }
  std::vector<std::int64_t> MetricSamples(std::initializer_list<std::string> names) const {
    std::vector<std::int64_t> values;
    for (const auto& name : names) values.push_back(MetricSample(name));
    return values;
  }
  std::int32_t ItemState(std::int32_t type, const std::string& name) {
    CItem* item = thread_.Items().GetItemRef(type, name);
    return item != nullptr ? item->m_iState : -1;
  }

  platform::ScopedInstall<platform::Clock> install_clock_{clock_};
  platform::FakeHttpClient http_;
  platform::ScopedInstall<platform::HttpClient> install_http_{http_};
  platform::FakeProcessList processes_;
  platform::ScopedInstall<platform::ProcessList> install_processes_{processes_};
  platform::CapturingMessageSink boxes_;
  platform::ScopedInstall<platform::MessageSink> install_boxes_{boxes_};
  platform::FakeMailTransport mail_;
  TempDir metrics_dir_;  // the metrics file goes here
  platform::ComPtr<platform::FakeVoiceAlert> voice_;
  platform::ComPtr<platform::FakeActor> actor_;
  COpsFacilities facilities_;
  CRamFileRO image_;
  CAllSets settings_;
  COpsOwner owner_;
  COpsMngrThread thread_{owner_, facilities_};
  int cycles_ = 0;

 private:
  void OnSleep() {
    const bool waiting = owner_.ReadAction() == "Go MODE: waiting for next test :";
    if (waiting && !in_wait_ && on_wait) {
      in_wait_ = true;
      on_wait(++cycles_);
    } else if (!waiting) {
      in_wait_ = false;
    }
  }
  bool in_wait_ = false;
};

// The fixture's facilities with the real clock, installed for everything else too: for the
// tests whose threads wait for real.
class RealTimeOpsTest : public OpsTest {
 protected:
  COpsFacilities RealTime() {
    const COpsFacilities& f = facilities_;
    return COpsFacilities{real_, f.launcher, f.power, f.keys, f.components, f.mail, f.minute};
  }
  platform::Clock& real_ = platform::DefaultFacility<platform::Clock>();
  platform::ScopedInstall<platform::Clock> real_clock_{real_};
};

}  // namespace snx::test
