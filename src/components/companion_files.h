#pragma once
// The five companion plug-ins of the install folder, in the order they are registered, each
// with the ProgID whose class keys show it registered.

namespace snx::platform {

struct CompanionFile {
  const char* file;
  const char* prog_id;
};

inline constexpr CompanionFile kCompanionFiles[] = {
    {"QorPulse.dll", "QorPulse.Pulse"},   {"SnxReport.dll", "SnxReport.UtReport"},
    {"QorPerf.dll", "QorPerf.Watcher"},   {"QorVoiceAlert.dll", "QorVoiceAlert.VoiceAlert"},
    {"QorAssure.dll", "QorAssure.Actor"},
};

}  // namespace snx::platform
