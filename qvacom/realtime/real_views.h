// The seven real-time views: the view pattern (real_view.h) over each record class. Only the
// traffic view has members of its own, to find a user's running line and to start a new period.
#pragma once

#include "qvacom/realtime/real_records.h"
#include "qvacom/realtime/real_view.h"

namespace qva {

class CQVARealTraffics : public RealView<IQVARealTraffics, CQVARealTraffic> {
 public:
  // Sets every record's StartTime and EndTime to Reset and both byte counters to 0; the records
  // stay.
  HRESULT STDMETHODCALLTYPE ResetCurInfo(DATE Reset) override;
  // The newest record whose Name and SourceAddr equal the arguments, exactly and
  // case-sensitively; S_FALSE and a null record when there is none. A null string is empty.
  HRESULT STDMETHODCALLTYPE Find(BSTR Name, BSTR SourceAddr, IQVARealTraffic** pVal) override;
};

class CQVARealUsers : public RealView<IQVARealUsers, CQVARealUser> {};
class CQVARealWarns : public RealView<IQVARealWarns, CQVARealWarn> {};
class CQVARealFiles : public RealView<IQVARealFiles, CQVARealFile> {};
class CQVARealBlocks : public RealView<IQVARealBlocks, CQVARealBlock> {};
class CQVARealMalwares : public RealView<IQVARealMalwares, CQVARealMalware> {};
class CQVARealNISs : public RealView<IQVARealNISs, CQVARealNIS> {};

}  // namespace qva
