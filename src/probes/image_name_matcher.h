#pragma once
// CImageNameMatcher: finds, in a process snapshot, the record that stands for one configured
// program text: a record whose path is that text, or else the record in whose path the text
// stands furthest in (from the ninth character on).

#include <cstdint>
#include <string_view>

#include "core/pointer_stack.h"
#include "core/qor_str.h"

class CImageNameMatcher {
 public:
  CImageNameMatcher() = default;
  CImageNameMatcher(const CImageNameMatcher&) = delete;
  CImageNameMatcher& operator=(const CImageNameMatcher&) = delete;

  // `records` holds CPImage records and must outlive the results' use.
  bool Go(std::string_view program_name, CPointerStack* records);
  bool ScanForBestMatch();

  const CQorStr& MatchedBaseStem() const { return m_sMatchedBaseStem; }
  std::int32_t Score() const { return m_iScore; }
  std::int32_t MatchedPid() const { return m_iMatchedPid; }
  std::int32_t MatchedIndex() const { return m_iMatchedIndex; }
  const CQorStr& ProgramName() const { return m_sProgramName; }
  const CQorStr& ProgramFileStem() const { return m_sProgramFileStem; }
  const CQorStr& ProgramFileExt() const { return m_sProgramFileExt; }
  std::int32_t ProgramFileStemLength() const { return m_iProgramFileStemLength; }

 private:
  CPointerStack* m_pRecords = nullptr;
  CQorStr m_sMatchedBaseStem;
  std::int32_t m_iScore = 0;
  std::int32_t m_iMatchedPid = 0;
  std::int32_t m_iMatchedIndex = -1;
  CQorStr m_sProgramName;
  CQorStr m_sProgramFileStem;
  CQorStr m_sProgramFileExt;
  std::int32_t m_iProgramFileStemLength = 0;
};
