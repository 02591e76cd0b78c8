#pragma once
// CImageName: a snapshot of the running processes, one CPImage record for each process whose
// executable can be read, in ascending order of process id. There is no limit on the number of
// records: every process of a busy host is in the snapshot.

#include <cstdint>
#include <string_view>

#include "core/pointer_stack.h"
#include "core/qor_object.h"
#include "probes/p_image.h"

class CImageName : public CQorObject {
 public:
  CImageName() = default;
  CImageName(const CImageName&) = delete;
  CImageName& operator=(const CImageName&) = delete;
  ~CImageName() override;

  bool Initialize();
  // Takes a new snapshot; false when the process list could not be read (no records then).
  bool Refresh();
  // The first record whose path is the program text, or, for a short-form path with "~",
  // stands for it.
  bool GetPImageByProgramName(std::string_view program_name, CPImage*& record);
  bool GetPImageByPid(std::int32_t pid, CPImage*& record);

  bool IsLive() override { return m_bLive && CQorObject::IsLive(); }
  // The records, for the matcher and for lookups by position.
  CPointerStack& Records() { return m_Records; }
  int Count() { return m_Records.Count(); }
  CPImage* At(int index) const { return static_cast<CPImage*>(m_Records.GetAt(index)); }

 private:
  void DeleteRecords();
  bool AddRecord(std::string_view full_path, std::string_view base_name, std::int32_t pid);

  CPointerStack m_Records;
  bool m_bLive = false;
};
