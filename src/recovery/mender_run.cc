// Running the restart program: the detection and restarter sections, their steps, the watcher
// test, the interruptible sleep and the starting of programs.

#include <algorithm>
#include <cmath>
#include <string>

#include "components/component.h"
#include "components/watcher_interface.h"
#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/txt_file4.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "probes/get_web_page.h"
#include "recovery/instruction.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"
#include "recovery/mender_text.h"

using snx::platform::LaunchOutcome;
using snx::platform::LaunchWindow;
using snx::recovery::Cat;
using snx::recovery::LogBlankLine;

namespace {

std::string Escaped(const CQorStr& text) {
  CQorStr copy(text);
  return copy.EscapeSlashes();
}

bool IsUrl(const CQorStr& value) { return value.Find("http:") >= 0; }

}  // namespace

bool CMender::KeepGoing() const {
  return m_pKeepGoing != nullptr && m_pKeepGoing->load(std::memory_order_acquire);
}

bool CMender::StopRequested() const { return m_pOwner != nullptr && m_pOwner->StopOrKill(); }

std::chrono::milliseconds CMender::MaxWaitSpan() const {
  return std::chrono::seconds(std::max<std::int32_t>(m_iMaxWait, 0));
}

void CMender::SleepWatchingStop(std::int64_t milliseconds) {
  const std::int64_t slice = kSleepSlice.count();
  const std::int64_t slices = milliseconds / slice;
  for (std::int64_t i = 0;; ++i) {
    m_Clock.SleepFor(std::chrono::milliseconds(std::clamp<std::int64_t>(milliseconds, 0, slice)));
    if (StopRequested()) return;
    if (milliseconds <= slice || i >= slices) return;
  }
}

snx::platform::LaunchResult CMender::Launch(std::string_view command_line, LaunchWindow window,
                                            bool wait, bool report_missing) {
  snx::platform::LaunchRequest request;
  request.command_line.assign(command_line);
  request.window = window;
  request.wait = wait;
  request.max_wait = MaxWaitSpan();
  request.stop = [this] { return StopRequested(); };
  const snx::platform::LaunchResult result = m_Launcher.Run(request);
  const std::string line = snx::platform::VisibleText(command_line);
  const std::string detail = snx::platform::VisibleText(result.detail);
  switch (result.outcome) {
    case LaunchOutcome::kExited:
      m_sStepOutcome = "exited with code " + std::to_string(result.exit_code);
      break;
    case LaunchOutcome::kStarted:
      m_sStepOutcome = "started, pid " + std::to_string(result.pid);
      break;
    case LaunchOutcome::kTimedOut:
      m_sStepOutcome = "still running after " + std::to_string(MaxWaitSpan().count() / 1000) +
                       " s: no longer waited for";
      LogError(Cat({"CMender gave up waiting after ", std::to_string(MaxWaitSpan().count() / 1000),
                    " seconds (MaxWait) for: ", line}));
      break;
    case LaunchOutcome::kStopped:
      m_sStepOutcome = "still running at a stop: no longer waited for";
      LogError(Cat({"CMender stopped waiting, on a stop request, for: ", line}));
      break;
    case LaunchOutcome::kNotFound:
    case LaunchOutcome::kStartFailed:
    case LaunchOutcome::kBadCommand:
      m_sStepOutcome = Cat({"could not start (", snx::platform::LaunchOutcomeName(result.outcome),
                            detail.empty() ? "" : ": ", detail, ")"});
      if (report_missing || result.outcome != LaunchOutcome::kNotFound) {
        LogError(Cat({"CMender could not start: ", line, " (", m_sStepOutcome, ")"}));
      }
      break;
  }
  return result;
}

void CMender::RunAndWait(std::string_view command_line) {
  Launch(command_line, LaunchWindow::kNormal, true);
}

void CMender::RunNoWait(std::string_view command_line) {
  Launch(command_line, LaunchWindow::kNormal, false);
}

void CMender::RunHidden(std::string_view command_line, bool wait) {
  Launch(command_line, LaunchWindow::kHidden, wait);
}

void CMender::ResetWebServer(std::string_view command_line, bool quiet) {
  const std::string command =
      m_pSettings != nullptr ? std::string(CQorStr::Trimmed(m_pSettings->m_sWebResetCommand.View()))
                             : std::string();
  const bool fallback = !command.empty();
  const auto first = Launch(command_line, LaunchWindow::kHidden, true, !quiet && !fallback);
  if (first.outcome != LaunchOutcome::kNotFound || !fallback) return;
  Launch(command, LaunchWindow::kHidden, true);
}

void CMender::OpenUrl(const CQorStr& url) {
  const std::string browser = Escaped(m_sBrowserPath);
  if (Launch(Cat({browser, " -e ", url}), LaunchWindow::kNormal, false, false).outcome !=
      LaunchOutcome::kNotFound) {
    return;
  }
  CGetWebPage page;
  const std::int32_t result = page.Go("D", url);
  m_sStepOutcome = Cat({"no browser: fetched, result ", std::to_string(result), ", status ",
                        std::to_string(page.StatusCode())});
  LogMessage(Cat({"No browser at ", m_sBrowserPath, " (PathToInternetExplorer): fetched ", url,
                  " instead (result ", std::to_string(result), ", status ",
                  std::to_string(page.StatusCode()), ")"}));
}

std::string CMender::DescribeStep(const CInstruction& step) {
  const CQorStr& name = step.Name();
  const CQorStr& value = step.Value();
  const std::string max_wait = std::to_string(std::max<std::int32_t>(m_iMaxWait, 0));
  CQorStr browser(m_sBrowserPath);
  const std::string open_url =
      Cat({"start without waiting: ", browser.EscapeSlashes(), " -e ", value});
  if (name.IsSame("Detect")) {
    const CActivityDetector* d = step.Detector();
    return d == nullptr ? "nothing"
                        : Cat({"compare the first line of ", d->WatchedPath(), " with its copy ",
                               d->CopyPath(), "; pass when it changed"});
  }
  if (name.IsSame("Wait")) {
    const std::int64_t seconds =
        std::clamp<std::int64_t>(value.ToInt(), 0, std::max(m_iMaxWait, 0));
    return Cat({"sleep ", std::to_string(seconds), " s (in 2 s slices; a stop ends it)"});
  }
  if (name.IsSame("Stop")) {
    return Cat(
        {"kill, hidden, and wait up to ", max_wait, " s: KILL /f  ",
         value.IsSame("InternetExplorer") ? std::string_view("IExplore.exe") : value.View()});
  }
  if (name.IsSame("Start")) {
    return IsUrl(value) ? open_url : Cat({"start without waiting: ", Escaped(value)});
  }
  if (name.IsSame("StartWithInternetExplorer")) return IsUrl(value) ? open_url : "nothing";
  if (name.IsSame("StartAndComplete")) {
    if (IsUrl(value)) return Cat({"fetch ", value, "; pass on a 2xx answer"});
    if (value.Find("IisReset") >= 0) {
      return Cat(
          {"reset the web server, hidden, and wait up to ", max_wait, " s: ", Escaped(value)});
    }
    return Cat({"run and wait up to ", max_wait, " s: ", Escaped(value)});
  }
  if (name.IsSame("DeleteSignalFile")) return Cat({"delete ", value, " if it exists"});
  if (name.IsSame("WaitForFile")) {
    return Cat({"wait up to ", max_wait, " s for ", value, " to open (polled every 5 s)"});
  }
  return "nothing";
}

bool CMender::WaitForFile(const CQorStr& value) {
  const std::string path = Escaped(value);
  CTxtFile4 file;
  file.Initialize(16);
  const auto start = m_Clock.MonoNow();
  while (true) {
    // The Go flag dropping, a STOP and the kill request all end the wait as a failure.
    if (!KeepGoing() || StopRequested()) return false;
    if (file.TryOpenForReadOnly(path)) {
      file.Close();
      return true;
    }
    if (m_Clock.MonoNow() - start >= MaxWaitSpan()) {
      LogError(Cat({"'WaitForFile' FAILS for ", value}));
      return false;
    }
    SleepWatchingStop(kWaitForFilePoll.count());
  }
}

bool CMender::PerformStep(CInstruction& step) {
  const CQorStr& name = step.Name();
  const CQorStr& value = step.Value();
  m_sStepOutcome.clear();
  if (name.IsSame("Detect")) {
    CActivityDetector* d = step.Detector();
    if (d == nullptr || !d->IsReady() || !d->IsActive()) {
      LogError(Cat({"Activity Detect is NEGATIVE for ",
                    d != nullptr ? d->WatchedPath().View() : value.View()}));
      return false;
    }
    d->TakeCopy();
    return true;
  }
  if (name.IsSame("Wait")) {
    // A negative wait (the file can hold one) is no wait.
    const std::int64_t seconds =
        std::clamp<std::int64_t>(value.ToInt(), 0, std::max(m_iMaxWait, 0));
    if (seconds > 0) SleepWatchingStop(seconds * 1000);
    return true;
  }
  if (name.IsSame("Stop")) {
    RunHidden(value.IsSame("InternetExplorer") ? std::string("KILL /f  IExplore.exe")
                                               : Cat({"KILL /f  ", value}),
              true);
    return true;
  }
  if (name.IsSame("Start") || name.IsSame("StartWithInternetExplorer")) {
    if (IsUrl(value)) {
      OpenUrl(value);
    } else if (name.IsSame("Start")) {
      RunNoWait(Escaped(value));
    }
    return true;
  }
  if (name.IsSame("StartAndComplete")) {
    if (IsUrl(value)) {
      CGetWebPage page;
      const std::int32_t result = page.Go("D", value);
      m_sStepOutcome = Cat({"fetch result ", std::to_string(result), ", status ",
                            std::to_string(page.StatusCode())});
      return result == 0 && page.IsStatusOk();
    }
    if (value.Find("IisReset") >= 0) {
      ResetWebServer(Escaped(value), false);
      m_bIISWasReset = true;
      return true;
    }
    RunAndWait(Escaped(value));
    return true;
  }
  if (name.IsSame("DeleteSignalFile")) {
    const std::string path = Escaped(value);
    if (snx::platform::Files().Exists(path)) {
      CTxtFile4 file;
      if (!file.Delete(path)) LogError(Cat({"'DeleteSignalFile' FAILS for ", value}));
    }
    return true;
  }
  if (name.IsSame("WaitForFile")) return WaitForFile(value);
  return true;
}

bool CMender::PerformInstruction() {
  bool passed = false;
  if (m_pCurrentInstruction != nullptr) {
    CInstruction& step = *m_pCurrentInstruction;
    LogEvent(Cat({"Task:: ", step.Name(), " : ", step.Value()}));
    if (m_bDryRun) {
      m_sStepOutcome = "dry run: nothing done";
      passed = true;
    } else {
      passed = PerformStep(step);
    }
    if (m_StepListener) {
      std::string action = DescribeStep(step);
      if (!m_sStepOutcome.empty()) action += Cat({" -> ", m_sStepOutcome});
      m_StepListener(step, action, passed);
    }
  }
  if (!passed) LogError("CMender::PerformInstruction() detected a failure.");
  return passed;
}

bool CMender::RunSection(Section section) {
  const char* word = section == Section::kDetection ? "Detection" : "RESTARTER";
  bool result = false;
  bool inside = false;
  for (CPointerList::Node* node = m_Instructions.Head(); node != nullptr; node = node->next) {
    m_pCurrentInstruction = static_cast<CInstruction*>(node->data);
    const CInstruction& step = *m_pCurrentInstruction;
    if (!inside) {
      inside = step.Name().IsSame("Begin") && step.Value().Find(word) >= 0;
    } else if (step.Name().IsSame("End")) {
      result = true;
      break;
    } else if (!PerformInstruction()) {
      result = false;
      break;
    }
    result = true;
    if (section == Section::kRestarter) m_Clock.SleepFor(std::chrono::milliseconds(100));
  }
  return result;
}

bool CMender::RunDetectOperations() {
  LogBlankLine();
  LogEvent("|||------------Begin DETECT Operations");
  if (m_bWatcherArmed && !XTst()) {
    LogError("Auto Watcher finds site is inoperative.");
    LogError("Is your Sensitivity set too low?.");
    LogError("Have you verified settings with Test and Set screen?.");
    return false;
  }
  const bool result = RunSection(Section::kDetection);
  LogEvent("|||------------End DETECT Operations");
  LogBlankLine();
  return result;
}

bool CMender::RunRestarterOperations() {
  LogBlankLine();
  LogEvent("|||------------Begin RESTARTER Operations");
  const bool result = RunSection(Section::kRestarter);
  LogEvent("|||------------End RESTARTER Operations");
  LogBlankLine();
  return result;
}

bool CMender::RunDetection(std::int32_t /*ignored*/, const std::atomic<bool>& keep_going) {
  bool result = false;
  m_bIISWasReset = false;
  m_pKeepGoing = &keep_going;
  if (m_bInitialized) {
    SetWinlogonValues();
    m_Clock.SleepFor(std::chrono::milliseconds(100));
    if (keep_going.load(std::memory_order_acquire)) {
      if (m_pOwner != nullptr) m_pOwner->SetOpsState(CMenderOwner::kOpsGoTesting);
      result = RunDetectOperations();
    }
  }
  return result;
}

bool CMender::XTst() {
  m_bLastWatcherTest = false;
  LogEvent("CMender::XTst 1.");
  if (!m_bWatcherArmed || m_pWatcher == nullptr) return false;
  LogEvent("CMender::XTst 2.");
  const std::int32_t threshold =
      10 - static_cast<std::int32_t>(std::trunc(-1.2 * static_cast<double>(m_iSensitivity)));
  const std::int32_t level = 101 - m_iSensitivity;
  snx::platform::Variant level_value = snx::platform::Variant::Int(level);
  m_pWatcher->SetLevel(&level_value);
  snx::platform::Variant threshold_value = snx::platform::Variant::Int(threshold);
  std::int32_t working = 0;
  m_pWatcher->TestWorking(&threshold_value, &working);
  if (working == -1) {
    m_bLastWatcherTest = true;
    LogEvent("CMender::XTst 2a.");
    return true;
  }
  LogEvent("CMender::XTst 2b.");
  return false;
}
