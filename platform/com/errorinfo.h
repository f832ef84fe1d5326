// Error information at the automation boundary. A member that fails calls ReportError, which
// sets the thread's error object (source and description) and returns the code to return.
#pragma once

#include <string_view>

#include "platform/com/oleauto.h"
#include "platform/com/text.h"

namespace com {

// Sets the calling thread's error information and returns hr.
COM_CXX_API HRESULT ReportError(HRESULT hr, std::string_view source, std::string_view description,
                                const IID& iid = IID_NULL);
// Clears the calling thread's error information (a member that succeeds after a failure).
COM_CXX_API void ClearError();

}  // namespace com
