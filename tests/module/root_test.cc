// The root object: one per process, no aggregation, and its two ways to an array.
#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>

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

TEST_F(RootTest, GetArrayMakesANewArrayAndConnectPassesActivationErrorsThrough) {
  ComPtr<IQVA> root;
  ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
  ComPtr<IQVAArray> first, second;
  EXPECT_EQ(root->GetArray(first.put()), S_OK);
  EXPECT_EQ(root->GetArray(second.put()), S_OK);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(root->GetArray(nullptr), E_POINTER);

  // No service listens on this socket, nor at the address named: the activation's error comes
  // back and no array.
  const std::string socket = (std::filesystem::temp_directory_path() / "qva-root-test-no-service.sock").string();
  setenv("QVA_REMOTE_SOCKET", socket.c_str(), 1);
  ComPtr<IQVAArray> array;
  com::Bstr empty(""), user("admin"), server("127.0.0.1:1");
  EXPECT_EQ(root->Connect(nullptr, nullptr, nullptr, nullptr, array.put()), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(root->Connect(empty.get(), user.get(), empty.get(), empty.get(), array.put()), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(root->Connect(server.get(), nullptr, nullptr, nullptr, array.put()), RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(array, nullptr);
  unsetenv("QVA_REMOTE_SOCKET");
}

}  // namespace
}  // namespace qva
