#include "service/install_steps.h"

#include "components/companion_files.h"
#include "platform/file_link.h"
#include "platform/file_system.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"
#include "recovery/mender.h"
#include "service/unit_file.h"

namespace sp = snx::platform;

namespace snxsvc {

namespace {

constexpr const char* kPulseUnits[] = {"snxsvc-pulse.service", "snxsvc-pulse.timer"};
constexpr const char* kShippedUnitFolder = "lib/systemd/system/";
// A registration loads the plug-in and writes a few keys: moments, never minutes.
constexpr std::chrono::seconds kRegisterWait{60};

}  // namespace

CInstallSteps::CInstallSteps(sp::Launcher& launcher, sp::KeyStore& keys,
                             sp::ServiceManager& manager, std::string folder, std::string root)
    : m_Launcher(launcher),
      m_Keys(keys),
      m_Manager(manager),
      m_sFolder(std::move(folder)),
      m_sRoot(std::move(root)) {}

std::string CInstallSteps::LinkPath(const char* unit) const {
  return sp::UnderRoot(m_sRoot, std::string("etc/systemd/system/") + unit);
}

std::string CInstallSteps::ShippedUnit(const char* unit) const {
  return m_sFolder + kShippedUnitFolder + unit;
}

bool CInstallSteps::ClassKeyExists(const std::string& prog_id) {
  sp::HKEY key = nullptr;
  if (m_Keys.OpenKey(sp::HKEY_CLASSES_ROOT, prog_id, key) != sp::RegResult::kOk) return false;
  m_Keys.CloseKey(key);
  return true;
}

bool CInstallSteps::RegisterCompanions(std::FILE* out) {
  std::string done;
  bool ok = true;
  for (const sp::CompanionFile& c : sp::kCompanionFiles) {
    const sp::LaunchResult result = m_Launcher.RunAndWait(std::string("Regsvr32 /s ") + c.file,
                                                          sp::LaunchWindow::kHidden, kRegisterWait);
    const std::string prog_id(c.prog_id);
    if (!result.ExitedWith(0) || !ClassKeyExists(prog_id) || !ClassKeyExists(prog_id + ".1")) {
      std::fprintf(
          stderr, "snxsvc: could not register %s%s: %s\n", m_sFolder.c_str(), c.file,
          sp::VisibleText(result.detail.empty() ? "no class keys afterwards" : result.detail)
              .c_str());
      ok = false;
      continue;
    }
    done.append(done.empty() ? "" : ", ").append(c.file);
  }
  if (!done.empty()) std::fprintf(out, "registered the companions %s\n", done.c_str());
  return ok;
}

bool CInstallSteps::LinkUnits(std::FILE* out) {
  bool ok = true;
  bool linked = false;
  for (const char* unit : kPulseUnits) {
    const std::string shipped = ShippedUnit(unit);
    if (!sp::Files().Exists(shipped)) {
      // A build folder has no units beside its programs; only an installed folder does.
      std::fprintf(out, "no %s in %s%s: not linked\n", unit, m_sFolder.c_str(), kShippedUnitFolder);
      continue;
    }
    const std::string link = LinkPath(unit);
    std::string why;
    if (!sp::Files().MakeFolders(link.substr(0, link.rfind('/')))) why = "no folder";
    if (why.empty()) why = sp::ReplaceWithLink(shipped, link);
    if (!why.empty()) {
      std::fprintf(stderr, "snxsvc: could not link %s: %s\n", link.c_str(), why.c_str());
      ok = false;
      continue;
    }
    std::fprintf(out, "linked %s -> %s (left disabled)\n", link.c_str(), shipped.c_str());
    linked = true;
  }
  if (linked && m_Manager.ManagesRoot(m_sRoot)) m_Manager.Reload();
  return ok;
}

bool CInstallSteps::Register(std::FILE* out) {
  std::fprintf(out, "wrote the class keys and %s (runs %ssnxsvc)\n", UnitFilePath(m_sRoot).c_str(),
               m_sFolder.c_str());
  // The installed product's entry: the service keeps its icon value there at every start.
  sp::HKEY entry = nullptr;
  if (m_Keys.CreateKey(sp::HKEY_LOCAL_MACHINE, CMender::kUninstallKey, entry) ==
      sp::RegResult::kOk) {
    m_Keys.CloseKey(entry);
  }
  const bool companions = RegisterCompanions(out);
  const bool units = LinkUnits(out);
  const std::string& f = m_sFolder;
  std::fprintf(out,
               "next: write the settings (%sdoc/settings.md), then start the service:\n"
               "  %ssnxctl conf set AdminId admin\n"
               "  %ssnxctl conf set Password secret\n"
               "  %ssnxctl conf set MachineName \"$(hostname)\"\n"
               "  %ssnxctl conf add URLS http://127.0.0.1/\n"
               "  systemctl enable --now snxsvc\n"
               "  %ssnxctl go\n",
               f.c_str(), f.c_str(), f.c_str(), f.c_str(), f.c_str(), f.c_str());
  return companions && units;
}

void CInstallSteps::Unregister() {
  m_Keys.DeleteKey(sp::HKEY_LOCAL_MACHINE, CMender::kUninstallKey);
  for (const char* unit : kPulseUnits) {
    const std::string link = LinkPath(unit);
    if (sp::IsLink(link)) sp::Files().Delete(link);
  }
  for (const sp::CompanionFile& c : sp::kCompanionFiles) {
    if (!sp::Files().Exists(m_sFolder + c.file)) continue;
    m_Launcher.RunAndWait(std::string("Regsvr32 /s /u ") + c.file, sp::LaunchWindow::kHidden,
                          kRegisterWait);
  }
}

}  // namespace snxsvc
