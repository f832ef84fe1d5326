// Doubles of the two outside components, built as their own in-process server so that tests can
// register them under the real class identifiers in a temporary registry. They record what the
// array asks of them; tests read and steer them through TheDoubleLog(), which the test
// executable reaches because it links the same library the registry names.
#pragma once

#include <string>
#include <vector>

#include "platform/com/types.h"

namespace vodrik::testing {

struct DoubleLog {
  // Edition codes the adapter was asked for, in order.
  std::vector<LONG> editions;
  // Arguments of each proxy Connect, in order (UTF-8).
  std::vector<std::vector<std::string>> connects;
  // What the control component's SetArray received, in order.
  std::vector<IUnknown*> arrays;
  // Steering: the result of Connect, and whether CreateProxy hands out no proxy.
  HRESULT connect_result = S_OK;
  bool null_proxy = false;

  void Reset() { *this = DoubleLog(); }
};

COMAPI_EXPORT DoubleLog& TheDoubleLog();

}  // namespace vodrik::testing
