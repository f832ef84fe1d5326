// The two outside components in their least form: registration, the adapter's edition codes, a
// proxy that reaches no firewall, and a control component that only takes the array.
#include "components/interfaces.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "tests/array/array_fixture.h"

namespace qva::testing {
namespace {

using com::Bstr;
using com::ComPtr;

class ComponentsTest : public ArrayFixture {};

TEST_F(ComponentsTest, AdapterMakesAProxyForEveryEditionCodeAndNoOther) {
  ComPtr<vodrik::IVodrikFirewallAdapter> adapter;
  ASSERT_EQ(CoCreateInstance(vodrik::kFirewallAdapterClsid, nullptr, CLSCTX_INPROC_SERVER,
                             vodrik::IID_IVodrikFirewallAdapter, adapter.put_void()),
            S_OK);
  struct Case {
    LONG code;
    HRESULT expected;
  };
  for (const Case& c : {Case{0, S_OK}, Case{1, S_OK}, Case{2, S_OK}, Case{3, S_OK}, Case{4, S_OK},
                        Case{5, E_INVALIDARG}, Case{-1, E_INVALIDARG}}) {
    ComPtr<vodrik::IVodrikFirewallProxy> proxy;
    EXPECT_EQ(adapter->CreateProxy(c.code, proxy.put()), c.expected) << c.code;
    EXPECT_EQ(proxy != nullptr, c.expected == S_OK) << c.code;
    if (!proxy) continue;
    // No firewall server exists on this platform: Connect fails, and says why.
    const Bstr server("fw"), empty("");
    const HRESULT hr = proxy->Connect(server.get(), empty.get(), empty.get(), empty.get(), empty.get());
    EXPECT_TRUE(FAILED(hr)) << c.code;
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr description;
    ASSERT_EQ(info->GetDescription(description.put()), S_OK);
    EXPECT_NE(description.utf8().find("edition " + std::to_string(c.code)), std::string::npos);
  }
  EXPECT_EQ(adapter->CreateProxy(0, nullptr), E_POINTER);
}

TEST_F(ComponentsTest, ControlTakesTheArrayAndAnswersNoLateBoundCall) {
  ComPtr<vodrik::IVodrikControl> control;
  ASSERT_EQ(CoCreateInstance(vodrik::kControlClsid, nullptr, CLSCTX_INPROC_SERVER, vodrik::IID_IVodrikControl,
                             control.put_void()),
            S_OK);
  auto array = MakeArray();
  EXPECT_EQ(control->SetArray(array.get()), S_OK);
  EXPECT_EQ(control->SetArray(nullptr), S_OK);
  UINT count = 9;
  EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  Bstr name("SetArray");
  LPOLESTR names[] = {name.get()};
  DISPID id = 0;
  EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(ComponentsTest, RegistrationNamesTheLibraryAndUnregistrationRemovesIt) {
  struct Library {
    const char* path;
    CLSID clsid;
  };
  for (const Library& lib : {Library{QVA_CONTROL_LIBRARY, vodrik::kControlClsid},
                             Library{QVA_FIREWALL_LIBRARY, vodrik::kFirewallAdapterClsid}}) {
    const std::string key = "CLSID\\" + com::GuidToString(lib.clsid) + "\\InprocServer32";
    auto tree = com::Registry::Shared().Read();
    ASSERT_TRUE(tree.ok());
    const com::RegistryKey* server = (*tree)->Find(key);
    ASSERT_NE(server, nullptr) << lib.path;
    EXPECT_EQ(fs::canonical(*server->GetDefault()), fs::canonical(lib.path));
    const com::RegistryKey* model = server;
    ASSERT_TRUE(model->GetValue("ThreadingModel"));
    EXPECT_EQ(*model->GetValue("ThreadingModel"), "Apartment");

    void* handle = dlopen(lib.path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    auto unregister = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllUnregisterServer"));
    ASSERT_NE(unregister, nullptr);
    ASSERT_EQ(unregister(), S_OK);
    tree = com::Registry::Shared().Read();
    ASSERT_TRUE(tree.ok());
    EXPECT_EQ((*tree)->Find("CLSID\\" + com::GuidToString(lib.clsid)), nullptr);
    EXPECT_NE((*tree)->Find("CLSID"), nullptr) << "the shared CLSID key stays";
  }
  ComPtr<IUnknown> adapter;
  EXPECT_EQ(
      CoCreateInstance(vodrik::kFirewallAdapterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, adapter.put_void()),
      REGDB_E_CLASSNOTREG);
}

HRESULT Unregister(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return E_FAIL;
  auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllUnregisterServer"));
  return entry ? entry() : E_FAIL;
}

TEST_F(ComponentsTest, StartWithoutAControlComponentStopsAtItsStep) {
  ASSERT_EQ(Unregister(QVA_CONTROL_LIBRARY), S_OK);
  auto array = MakeArray();
  EXPECT_EQ(array->Init(), static_cast<HRESULT>(0xC0040306));
  ComPtr<IQVARealTime> real_time;
  EXPECT_EQ(array->get_RealTime(real_time.put()), S_OK) << "the step before it stays done";
  ComPtr<IUnknown> control;
  EXPECT_EQ(array->get_Control(control.put()), E_FAIL);
}

TEST_F(ComponentsTest, StartWithoutAFirewallAdapterGoesOnWithoutTheFirewall) {
  ASSERT_EQ(Unregister(QVA_FIREWALL_LIBRARY), S_OK);
  auto array = MakeArray();
  EXPECT_EQ(array->Init(), S_OK);
  const std::vector<std::string> expected = {"NORMAL, Vodrik server init.", "WARN, Can not connect to Firewall server.",
                                             "NORMAL, Vodrik server init finished."};
  EXPECT_EQ(LogMessages(), expected);
  ComPtr<IUnknown> proxy;
  EXPECT_EQ(array->get_Proxy(proxy.put()), E_FAIL);
}

TEST_F(ComponentsTest, ALateBoundClientStartsTheArrayByName) {
  auto array = MakeArray();
  Bstr init("init"), users("Users");
  LPOLESTR names[] = {init.get(), users.get()};
  DISPID ids[2] = {0, 0};
  ASSERT_EQ(array->GetIDsOfNames(IID_NULL, &names[0], 1, 0, &ids[0]), S_OK);
  ASSERT_EQ(array->GetIDsOfNames(IID_NULL, &names[1], 1, 0, &ids[1]), S_OK);
  EXPECT_EQ(ids[0], 4);
  EXPECT_EQ(ids[1], 2);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  com::Variant result;
  ASSERT_EQ(array->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &none, result.put(), nullptr, nullptr), S_OK);
  com::Variant child;
  ASSERT_EQ(array->Invoke(ids[1], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, child.put(), nullptr, nullptr), S_OK);
  ASSERT_EQ(child.vt, VT_DISPATCH);
  ComPtr<IQVAUsers> typed;
  EXPECT_EQ(child.pdispVal->QueryInterface(IID_IQVAUsers, typed.put_void()), S_OK);
}

}  // namespace
}  // namespace qva::testing
