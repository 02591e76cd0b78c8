#pragma once
// CPImage: one running process as the watchdog sees it: its executable's full path, that path's
// file name split into stem and extension, the process's base name split the same way (the base
// stem is the instance name the activity counters use), and its id.

#include <cstdint>

#include "core/qor_str.h"

class CPImage {
 public:
  CPImage() = default;
  CPImage(const CPImage&) = delete;
  CPImage& operator=(const CPImage&) = delete;

  CQorStr m_sProgramName;  // full path of the executable
  CQorStr m_sFileStem;     // last path component up to its first "."
  CQorStr m_sFileExt;      // what follows that "."
  std::int32_t m_iFileStemLength = 0;
  CQorStr m_sBaseName;  // the file name of the executable
  CQorStr m_sBaseStem;  // up to its first "."
  CQorStr m_sBaseExt;
  std::int32_t m_iBaseStemLength = 0;
  std::int32_t m_iProcessId = -1;
  bool m_bCountersAdded = false;
};
