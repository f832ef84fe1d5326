// The root object: one per process, no aggregation, and its two ways to an array.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "qvacom_idl.h"
#include "tests/module/registered_library.h"

namespace qva {
namespace {

using com::ComPtr;

class RootTest : public testing::RegisteredLibrary {};

TEST_F(RootTest, EveryCreationInTheProcessGivesTheSameRoot) {
  ComPtr<IQVA> a, b;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, a.put_void()), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_ALL, IID_IQVA, b.put_void()), S_OK);
  EXPECT_EQ(a.get(), b.get());

  // From other threads at once, too: the first creation runs under the class object's lock.
  std::vector<IUnknown*> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen)
    threads.emplace_back([&slot] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      ComPtr<IUnknown> root;
      if (SUCCEEDED(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, root.put_void())))
        slot = root.get();
      CoUninitialize();
    });
  for (auto& t : threads) t.join();
  ComPtr<IUnknown> identity;
  ASSERT_EQ(a.As(&identity), S_OK);
  for (IUnknown* p : seen) EXPECT_EQ(p, identity.get());
}

TEST_F(RootTest, RefusesAggregationAndNullResults) {
  ComPtr<IQVA> root;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
  ComPtr<IUnknown> inner;
  EXPECT_EQ(CoCreateInstance(CLSID_QVA, root.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.put_void()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_QVA, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IQVA, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, inner.put_void()), E_NOINTERFACE);
}

TEST_F(RootTest, RootReleasedByClientsStaysAlive) {
  IQVA* raw = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, reinterpret_cast<void**>(&raw)), S_OK);
  raw->Release();
  ComPtr<IQVA> again;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, again.put_void()), S_OK);
  EXPECT_EQ(again.get(), raw);
}

TEST_F(RootTest, ArrayCreationFailuresPassThroughUnchanged) {
  ComPtr<IQVA> root;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
  ComPtr<IQVAArray> array;
  // The in-process array class is registered but not available in this build.
  EXPECT_EQ(root->GetArray(array.put()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(array, nullptr);
  // No service serves the array class here: the activation error comes back and no array.
  com::Bstr empty(""), user("admin"), server("console-host");
  EXPECT_EQ(root->Connect(nullptr, nullptr, nullptr, nullptr, array.put()), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(root->Connect(empty.get(), user.get(), empty.get(), empty.get(), array.put()), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(root->Connect(server.get(), nullptr, nullptr, nullptr, array.put()), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(root->GetArray(nullptr), E_POINTER);
}

}  // namespace
}  // namespace qva
