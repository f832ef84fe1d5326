// The real-time views against the plain containers they stand on, in one run:
//   - Add then Pop through the view interface against a std::list of plain records doing the
//     same (the name converted from UTF-16 in both);
//   - a snapshot enumerator walked item by item over 10,000 records against copying 10,000
//     record pointers with AddRef and releasing them.
#include <benchmark/benchmark.h>

#include <list>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "platform/com/variant.h"
#include "qvacom/realtime/real_records.h"
#include "qvacom/realtime/realtime_root.h"

namespace {

using com::Bstr;
using com::ComPtr;
using qva::CQVARealTime;
using qva::CQVARealWarn;

constexpr int kSteadySize = 1000;  // records in the view while Add and Pop run
constexpr int kEnumerated = 10000;

ComPtr<IQVARealWarns> Warns(int records) {
  auto root = com::CreateObject<CQVARealTime>();
  ComPtr<IQVARealWarns> warns;
  (*root)->get_RealWarns(warns.put());
  const Bstr name(u"user");
  for (int i = 0; i < records; ++i) {
    IQVARealWarn* warn = nullptr;
    warns->Add(name.get(), &warn);
    warn->Release();
  }
  return warns;
}

void BM_ViewAddPop(benchmark::State& state) {
  ComPtr<IQVARealWarns> warns = Warns(kSteadySize);
  const Bstr name(u"user");
  for (auto _ : state) {
    IQVARealWarn* warn = nullptr;
    warns->Add(name.get(), &warn);
    benchmark::DoNotOptimize(warn);
    warn->Release();
    warns->Pop();
  }
}
BENCHMARK(BM_ViewAddPop);

void BM_PlainListAddPop(benchmark::State& state) {
  std::list<CQVARealWarn::Data> warns(kSteadySize);
  const Bstr name(u"user");
  for (auto _ : state) {
    warns.emplace_front().name = name.utf8();
    benchmark::DoNotOptimize(&warns.front());
    warns.pop_back();
  }
}
BENCHMARK(BM_PlainListAddPop);

void BM_ViewEnumerate10000(benchmark::State& state) {
  ComPtr<IQVARealWarns> warns = Warns(kEnumerated);
  for (auto _ : state) {
    IUnknown* unknown = nullptr;
    warns->get__NewEnum(&unknown);
    IEnumVARIANT* e = nullptr;
    unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    unknown->Release();
    com::Variant item;
    ULONG fetched = 0;
    while (e->Next(1, item.put(), &fetched) == S_OK) benchmark::DoNotOptimize(item.punkVal);
    e->Release();
  }
}
BENCHMARK(BM_ViewEnumerate10000);

// Making the enumerator alone: the snapshot of 10,000 records with a reference on each.
void BM_ViewMakeEnumerator10000(benchmark::State& state) {
  ComPtr<IQVARealWarns> warns = Warns(kEnumerated);
  for (auto _ : state) {
    IUnknown* unknown = nullptr;
    warns->get__NewEnum(&unknown);
    benchmark::DoNotOptimize(unknown);
    unknown->Release();
  }
}
BENCHMARK(BM_ViewMakeEnumerator10000);

void BM_CopyPointers10000(benchmark::State& state) {
  ComPtr<IQVARealWarns> warns = Warns(kEnumerated);
  std::vector<IUnknown*> records;
  {
    IUnknown* unknown = nullptr;
    warns->get__NewEnum(&unknown);
    IEnumVARIANT* e = nullptr;
    unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    unknown->Release();
    com::Variant item;
    ULONG fetched = 0;
    while (e->Next(1, item.put(), &fetched) == S_OK) records.push_back(item.punkVal);
    e->Release();
  }
  for (auto _ : state) {
    std::vector<IUnknown*> copy(records);
    for (IUnknown* r : copy) r->AddRef();
    for (IUnknown* r : copy) {
      benchmark::DoNotOptimize(r);
      r->Release();
    }
  }
}
BENCHMARK(BM_CopyPointers10000);

}  // namespace

BENCHMARK_MAIN();
