// A property read late-bound through Invoke against the same read through the vtable, in one
// run. The ratio is what matters: Invoke must stay within a few times the direct call.
#include <benchmark/benchmark.h>

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "qvacom_idl.h"
#include "tests/support/test_backup.h"

namespace {

using qva::testing::CTestBackup;

void BM_DirectGet(benchmark::State& state) {
  auto obj = com::CreateObject<CTestBackup>();
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
  auto obj = com::CreateObject<CTestBackup>();
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
