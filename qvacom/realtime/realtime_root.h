// The real-time root: the seven real-time views and the service's current date. The array
// object makes one in its Init and keeps it for its lifetime; consoles reach it through the
// array's RealTime property.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva {

class CQVARealTime : public com::Dispatch<IQVARealTime> {
 public:
  // DATE of 2000-01-01 00:00:00, the date consoles read before the service sets one.
  static constexpr DATE kInitialCurDate = 36526.0;

  // Makes the seven views, in the order traffic, user, warning, file, block, malware, intrusion;
  // the first failure fails the creation of the root.
  HRESULT FinalConstruct();

  // Each view getter hands out the same view every time, with an added reference.
  QVA_DECL_IQVARealTime;

 private:
  DATE cur_date_ = kInitialCurDate;
  // One reference each, released with the root.
  com::ComPtr<IQVARealTraffics> traffics_;
  com::ComPtr<IQVARealUsers> users_;
  com::ComPtr<IQVARealWarns> warns_;
  com::ComPtr<IQVARealFiles> files_;
  com::ComPtr<IQVARealBlocks> blocks_;
  com::ComPtr<IQVARealMalwares> malwares_;
  com::ComPtr<IQVARealNISs> niss_;
};

}  // namespace qva
