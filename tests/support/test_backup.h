// A small object of a described interface (a name property), for tests and benchmarks of the
// dispatch machinery: any described interface would do, the generated tables are alike.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva::testing {

class CTestBackup : public com::Dispatch<IQVABackup> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* p) override {
    *p = name_.Copy();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override {
    name_ = com::Bstr(v);
    return S_OK;
  }
  com::Bstr name_{"20261210.xml"};
};

}  // namespace qva::testing
