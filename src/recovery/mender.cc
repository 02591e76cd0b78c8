// The restart engine's data and the loading of the restart program.

#include "recovery/mender.h"

#include <memory>
#include <new>

#include "components/component.h"
#include "components/watcher_interface.h"
#include "core/log_writer.h"
#include "platform/file_system.h"
#include "platform/path_map.h"
#include "recovery/instruction.h"
#include "recovery/mender_text.h"
#include "recovery/restart_program_check.h"

using snx::recovery::Cat;
using snx::recovery::LogBlankLine;

CMender::CMender(snx::platform::Clock& clock, snx::platform::Launcher& launcher,
                 snx::platform::Power& power, snx::platform::KeyStore& keys,
                 snx::platform::ComponentFactory& components)
    : m_Clock(clock),
      m_Launcher(launcher),
      m_Power(power),
      m_Keys(keys),
      m_Components(components) {}

CMender::~CMender() { ReleaseComponents(); }

CInstruction* CMender::InstructionAt(int index) const {
  CPointerList::Node* node = m_Instructions.Head();
  for (int i = 0; node != nullptr && i < index; ++i) node = node->next;
  return node != nullptr ? static_cast<CInstruction*>(node->data) : nullptr;
}

std::vector<CInstruction*> CMender::Instructions() const {
  std::vector<CInstruction*> steps;
  steps.reserve(static_cast<std::size_t>(m_Instructions.Count()));
  for (CPointerList::Node* node = m_Instructions.Head(); node != nullptr; node = node->next) {
    steps.push_back(static_cast<CInstruction*>(node->data));
  }
  return steps;
}

std::string CMender::ProgramPath() const {
  CQorStr path(m_sInstallFolder);
  path.Append(kProgramFile);
  return path.EscapeSlashes();
}

bool CMender::LoadProgram(std::string_view install_folder) {
  m_sInstallFolder.Assign(install_folder);
  const std::string path = ProgramPath();
  // Taken before the read: a change while it reads is taken up at the next look.
  const auto identity = snx::platform::Files().Identity(path);
  if (!m_IniFile.Initialize(path) || !LoadFromIniFile()) return false;
  m_ProgramIdentity = identity;
  m_bProgramRefused = false;
  return true;
}

bool CMender::AddInstruction() {
  LogEvent(Cat({"Load Instruction: ", m_IniFile.Key(), " = ", m_IniFile.Value()}));
  std::unique_ptr<CInstruction> step(new (std::nothrow) CInstruction());
  m_pCurrentInstruction = step.get();
  if (step && step->Initialize(m_IniFile.Key(), m_IniFile.Value()) &&
      m_Instructions.AppendLink(step.get())) {
    (void)step.release();  // the list holds it; ReleaseComponents deletes it
    return true;
  }
  m_pCurrentInstruction = nullptr;
  LogError("CMender::AddInstruction() failed");
  return false;
}

namespace {

// Splits a "Detect" value into the file name (after the last separator, trimmed; "" without
// one) and the folder before it (trimmed, ending with a separator). "/" separates as "\" does.
void SplitWatchedPath(const CQorStr& value, CQorStr& name, CQorStr& folder) {
  const std::string_view text = value.View();
  std::size_t at = text.size();
  while (at > 0 && !snx::platform::IsPathSeparator(text[at - 1])) --at;
  if (at == 0) {
    name.Clear();
    folder.Assign(text);
  } else {
    name.Assign(text.substr(at));
    folder.Assign(text.substr(0, at));
  }
  name.Trim();
  folder.Trim();
  EndWithSeparator(folder);
}

}  // namespace

bool CMender::LoadFromIniFile() {
  LogBlankLine();
  LogEvent("|||------ Begin Loading program from Sentinex.ini");
  if (!m_IniFile.GetFirstKeyAndValue()) {
    LogError("CMender::LoadFromIniFile() failed");
    return false;
  }
  bool loaded = true;
  do {
    const CQorStr& key = m_IniFile.Key();
    const CQorStr& value = m_IniFile.Value();
    if (key.IsSame("Detect")) {
      CQorStr name;
      CQorStr folder;
      SplitWatchedPath(value, name, folder);
      if (AddInstruction() &&
          !m_pCurrentInstruction->Detector()->Initialize(name, folder, m_sInstallFolder)) {
        LogError(Cat({"Error: 'Detect' cannot watch ", value,
                      ": it needs a folder and a file name, and the installation folder."}));
        loaded = false;
        break;
      }
    } else if (snx::recovery::IsOneOf(key, snx::recovery::RestartStepKinds())) {
      AddInstruction();
    } else if (key.IsSame("RetryCount")) {
      m_iRetryCount = value.ToInt();
    } else if (key.IsSame("MaxWait")) {
      m_iMaxWait = value.ToInt();
    } else if (key.IsSame("DomainName")) {
      m_sDomainName.Assign(value);
    } else if (key.IsSame("UserName")) {
      m_sUserName.Assign(value);
    } else if (key.IsSame("Password")) {
      m_sPassword.Assign(value);
    } else if (key.IsSame("PathToInternetExplorer")) {
      m_sBrowserPath.Assign(value);
    }
  } while (m_IniFile.GetNextKeyAndValue());
  // A read that stopped at a line it could not read is no whole program.
  if (m_IniFile.Failed()) loaded = false;
  if (m_IniFile.IsOpen()) m_IniFile.Close();
  LogEvent("|||------ End Loading program from Sentinex.ini");
  LogBlankLine();
  if (!loaded) LogError("CMender::LoadFromIniFile() failed");
  return loaded;
}

void CMender::ReleaseWatcherObject() {
  if (m_pWatcherObject == nullptr) return;
  // Every reference the engine took (creation, its own, the watcher interface) goes at once.
  while (m_pWatcherObject->Release() >= 1) {
  }
  m_pWatcherObject = nullptr;
  m_pWatcher = nullptr;  // the same object: it is gone now
}

void CMender::ReleaseComponents() {
  for (CPointerList::Node* node = m_Instructions.Head(); node != nullptr; node = node->next) {
    std::unique_ptr<CInstruction> owned(static_cast<CInstruction*>(node->data));
  }
  m_Instructions.RemoveAll();
  m_pCurrentInstruction = nullptr;
  if (m_pWatcherObject != nullptr) {
    ReleaseWatcherObject();
    --m_iWatcherCreations;
  }
}
