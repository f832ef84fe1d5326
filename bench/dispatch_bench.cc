// A property read late-bound through Invoke against the same read through the vtable, in one
// run. The ratio is what matters: Invoke must stay within a few times the direct call.
#include <benchmark/benchmark.h>

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "qvacom_idl.h"

namespace {

// Any described interface serves: the generated tables and thunks are the same shape for all.
class CBenchBackup : public com::Dispatch<IQVABackup> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* p) override {
    *p = name_.Copy();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override {
    name_ = com::Bstr(v);
    return S_OK;
  }

 private:
  com::Bstr name_{"20261210.xml"};
};

void BM_DirectGet(benchmark::State& state) {
  auto obj = com::CreateObject<CBenchBackup>();
  IQVABackup* backup = obj->get();
  for (auto _ : state) {
    BSTR name = nullptr;
    backup->get_Name(&name);
    benchmark::DoNotOptimize(name);
    SysFreeString(name);
  }
}
BENCHMARK(BM_DirectGet);

void BM_InvokeGet(benchmark::State& state) {
  auto obj = com::CreateObject<CBenchBackup>();
  IDispatch* disp = obj->get();
  DISPPARAMS none{};
  for (auto _ : state) {
    com::Variant result;
    disp->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.bstrVal);
  }
}
BENCHMARK(BM_InvokeGet);

}  // namespace

BENCHMARK_MAIN();
