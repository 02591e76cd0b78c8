#pragma once
// ISNXSVR: the command object's interface as the control program calls it. Method 1 is
// OpsCommand, method 2 GetStringResult; both always return S_OK and tell failure by their
// result.

#include <cstdint>
#include <optional>

#include "components/component.h"
#include "ops/ops_status.h"

class ISNXSVR {
 public:
  virtual ~ISNXSVR() = default;
  virtual snx::platform::HRESULT OpsCommand(const snx::platform::VARIANT* pvCommand,
                                            std::int32_t* plngResult) = 0;
  virtual snx::platform::HRESULT GetStringResult(const std::int32_t* plngCommand,
                                                 snx::platform::VARIANT* pvResult) = 0;
  // The command socket's Status request: the watched items and the operations now; none when
  // the object cannot tell.
  virtual std::optional<COpsStatus> GetStatus() { return std::nullopt; }
};
