// Registration, class objects and the library's entry points, through the runtime as a client
// sees them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "qvacom/module/catalogue.h"
#include "qvacom/module/module.h"
#include "qvacom_idl.h"
#include "tests/module/registered_library.h"

COMAPI HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
COMAPI HRESULT DllCanUnloadNow();
COMAPI HRESULT DllRegisterServer();
COMAPI HRESULT DllUnregisterServer();

namespace qva {
namespace {

using com::ComPtr;
using com::RegistryKey;

constexpr char kLibId[] = "{CED38155-C2C4-4230-AA54-EBC3995F251E}";
constexpr char kAppIdText[] = "{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}";

class RegistrationTest : public testing::RegisteredLibrary {};

std::string Default(const RegistryKey* k) { return k && k->GetDefault() ? *k->GetDefault() : "<missing>"; }

TEST_F(RegistrationTest, WritesEveryClassKeyForKey) {
  auto tree = Tree();
  const std::string module = CqvacomModule::ModulePath();
  ASSERT_FALSE(module.empty());

  const RegistryKey* appid = tree->Find(std::string("AppID\\") + kAppIdText);
  ASSERT_NE(appid, nullptr);
  EXPECT_EQ(Default(appid), "qvacom");
  EXPECT_EQ(appid->subkey_count(), 0u);
  const RegistryKey* dll = tree->Find("AppID\\qvacom.DLL");
  ASSERT_NE(dll, nullptr);
  EXPECT_EQ(dll->GetValue("AppID"), kAppIdText);
  EXPECT_EQ(tree->Find("AppID")->subkey_count(), 2u);

  size_t with_progid = 0;
  for (const ClassEntry& e : Catalogue()) {
    SCOPED_TRACE(std::string(e.coclass));
    const std::string clsid = com::GuidToString(e.clsid), desc = std::string(e.coclass) + " Class";
    const RegistryKey* cls = tree->Find("CLSID\\" + clsid);
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(Default(cls), desc);
    EXPECT_EQ(Default(cls->Find("InprocServer32")), module);
    EXPECT_EQ(cls->Find("InprocServer32")->GetValue("ThreadingModel"), "Apartment");
    EXPECT_EQ(cls->Find("InprocServer32")->subkey_count(), 0u);
    ASSERT_NE(cls->Find("Programmable"), nullptr);
    EXPECT_FALSE(cls->Find("Programmable")->GetDefault().has_value());
    EXPECT_EQ(Default(cls->Find("TypeLib")), kLibId);
    if (e.progid.empty()) {
      EXPECT_EQ(cls->Find("ProgID"), nullptr);
      EXPECT_EQ(cls->Find("VersionIndependentProgID"), nullptr);
      EXPECT_EQ(Default(cls->Find("Version")), "1.0");
      EXPECT_FALSE(cls->GetValue("AppID").has_value());
      EXPECT_EQ(cls->subkey_count(), 4u);
      EXPECT_TRUE(cls->values().empty());
      continue;
    }
    ++with_progid;
    const std::string progid(e.progid), indep = progid.substr(0, progid.size() - 2);
    EXPECT_EQ(Default(cls->Find("ProgID")), progid);
    EXPECT_EQ(Default(cls->Find("VersionIndependentProgID")), indep);
    EXPECT_EQ(cls->GetValue("AppID"), kAppIdText);
    EXPECT_EQ(cls->Find("Version"), nullptr);
    EXPECT_EQ(cls->subkey_count(), 5u);
    EXPECT_EQ(cls->values().size(), 1u);

    const RegistryKey* versioned = tree->Find(progid);
    ASSERT_NE(versioned, nullptr);
    EXPECT_EQ(Default(versioned), desc);
    EXPECT_EQ(Default(versioned->Find("CLSID")), clsid);
    EXPECT_EQ(versioned->subkey_count(), 1u);
    const RegistryKey* independent = tree->Find(indep);
    ASSERT_NE(independent, nullptr);
    EXPECT_EQ(Default(independent), desc);
    EXPECT_EQ(Default(independent->Find("CLSID")), clsid);
    EXPECT_EQ(Default(independent->Find("CurVer")), progid);
    EXPECT_EQ(independent->subkey_count(), 2u);
  }
  EXPECT_EQ(with_progid, 51u);
  EXPECT_EQ(tree->Find("CLSID")->subkey_count(), 63u);
  // Nothing else at the top: the two ProgIDs of each class, AppID, CLSID, and the type library.
  std::set<std::string> top;
  for (const RegistryKey* k : tree->SubKeys()) top.insert(k->name());
  EXPECT_EQ(top.size(), 2 * 51 + 2 + TypeLibraryTopKeys());
}

TEST_F(RegistrationTest, RegistersTheTypeLibraryAndEveryInterface) {
  auto tree = Tree();
  const std::string module = CqvacomModule::ModulePath();
  const RegistryKey* version = tree->Find(std::string("TypeLib\\") + kLibId + "\\1.0");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(Default(version), "qvacomLib");
  EXPECT_EQ(Default(version->Find("0\\win64")), module);
  EXPECT_EQ(Default(version->Find("FLAGS")), "0");
  EXPECT_EQ(Default(version->Find("HELPDIR")), module.substr(0, module.rfind('/') + 1));

  ASSERT_EQ(qvacom_gen::kAllInterfacesCount, 72u);
  EXPECT_EQ(tree->Find("Interface")->subkey_count(), 72u);
  for (size_t i = 0; i < qvacom_gen::kAllInterfacesCount; ++i) {
    const com::InterfaceInfo& info = *qvacom_gen::kAllInterfaces[i];
    const RegistryKey* itf = tree->Find("Interface\\" + com::GuidToString(*info.iid));
    ASSERT_NE(itf, nullptr) << info.name;
    EXPECT_EQ(Default(itf), info.name);
    EXPECT_EQ(Default(itf->Find("ProxyStubClsid32")), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Default(itf->Find("TypeLib")), kLibId);
    EXPECT_EQ(itf->Find("TypeLib")->GetValue("Version"), "1.0");
  }
}

TEST_F(RegistrationTest, RootDescriptionAndProgIdsResolve) {
  auto tree = Tree();
  EXPECT_EQ(Default(tree->Find("CLSID\\{4834B5E8-3ABC-4BD7-816B-B63D3821AA05}")), "QVA Class");
  EXPECT_EQ(Default(tree->Find("QVA.Array")), "QVAArray Class");

  struct Case {
    const char16_t* progid;
    HRESULT hr;
    GUID clsid;
  } cases[] = {
      {u"QVA.Array", S_OK, CLSID_QVAArray},
      {u"QVA.Array.1", S_OK, CLSID_QVAArray},
      {u"qva.root", S_OK, CLSID_QVA},
      {u"{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}", S_OK, CLSID_QVAArray},
      {u"QVA.Users", CO_E_CLASSSTRING, GUID_NULL},
      {u"QVA.Category.1", CO_E_CLASSSTRING, GUID_NULL},
      {u"", CO_E_CLASSSTRING, GUID_NULL},
  };
  for (const Case& c : cases) {
    CLSID got{};
    EXPECT_EQ(CLSIDFromProgID(c.progid, &got), c.hr) << com::Utf16ToUtf8(c.progid);
    EXPECT_EQ(got, c.clsid) << com::Utf16ToUtf8(c.progid);
  }
  const RegistryKey* category = tree->Find("CLSID\\{8A588C0D-97BC-4383-BEF0-841A82C4EA2D}");
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(Default(category->Find("Version")), "1.0");
  EXPECT_EQ(category->Find("ProgID"), nullptr);
}

TEST_F(RegistrationTest, UnregisterRemovesWhatItAddedAndKeepsTheRest) {
  // A key of another server inside "CLSID", and one of ours that another program extended.
  ASSERT_EQ(com::Registry::Shared().Edit([](RegistryKey& root) {
    auto other = root.CreatePath("CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32");
    if (!other) return other.error();
    (*other)->SetDefault("/usr/lib/other.so");
    return S_OK;
  }), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  auto tree = Tree();
  std::set<std::string> top;
  for (const RegistryKey* k : tree->SubKeys()) top.insert(k->name());
  EXPECT_EQ(top, (std::set<std::string>{"AppID", "CLSID", "Interface", "TypeLib"}));
  EXPECT_EQ(tree->Find("TypeLib")->subkey_count(), 0u);
  EXPECT_EQ(tree->Find("Interface")->subkey_count(), 0u);
  EXPECT_EQ(tree->Find("AppID")->subkey_count(), 0u);
  EXPECT_EQ(tree->Find("CLSID")->subkey_count(), 1u);
  EXPECT_NE(tree->Find("CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32"), nullptr);
  // Unregistering twice is not an error; registering again restores everything.
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(Tree()->Find("CLSID")->subkey_count(), 64u);
}

TEST_F(RegistrationTest, RegistrationIntoAnUnusableRegistryFailsAndWritesNothing) {
  // A registry file that cannot be parsed is never overwritten.
  WriteRegistryFile("this is not a registry file\n");
  EXPECT_FAILED(DllRegisterServer());
  EXPECT_EQ(ReadRegistryFile(), "this is not a registry file\n");
}

TEST_F(RegistrationTest, ClassObjectsFollowTheCatalogue) {
  const CLSID users = com::MakeGuid("{E90DF305-7302-4EEF-A6E2-9F7DB648F3F2}");
  struct Case {
    const char* what;
    CLSID clsid;
    HRESULT direct;  // DllGetClassObject
    HRESULT create;  // CoCreateInstance
  } cases[] = {
      // Described in the type library only: no class object, and not registered.
      {"users collection", users, CLASS_E_CLASSNOTAVAILABLE, REGDB_E_CLASSNOTREG},
      {"unknown class", com::MakeGuid("{00000000-1111-2222-3333-444444444444}"), CLASS_E_CLASSNOTAVAILABLE,
       REGDB_E_CLASSNOTREG},
      {"root", CLSID_QVA, S_OK, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(c.clsid, IID_IClassFactory, factory.put_void()), c.direct);
    EXPECT_EQ(factory != nullptr, SUCCEEDED(c.direct));
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()), c.create);
  }
  // Every catalogue class is registered; the ones this build does not implement answer
  // CLASS_E_CLASSNOTAVAILABLE through the runtime too.
  for (const ClassEntry& e : Catalogue()) {
    if (e.create_class_object) continue;
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(e.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()),
              CLASS_E_CLASSNOTAVAILABLE)
        << e.coclass;
  }
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(DllGetClassObject(CLSID_QVA, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(DllGetClassObject(CLSID_QVA, IID_IDispatch, factory.put_void()), E_NOINTERFACE);
}

TEST_F(RegistrationTest, ClassObjectIsMadeOnceAndKept) {
  ComPtr<IClassFactory> a, b;
  ASSERT_EQ(DllGetClassObject(CLSID_QVA, IID_IClassFactory, a.put_void()), S_OK);
  ASSERT_EQ(CoGetClassObject(CLSID_QVA, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, b.put_void()), S_OK);
  EXPECT_EQ(a.get(), b.get());
}

TEST_F(RegistrationTest, CanUnloadOnlyWhenNothingIsAlive) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  {
    ComPtr<IQVA> root;
    ASSERT_EQ(CoCreateInstance(CLSID_QVA, nullptr, CLSCTX_INPROC_SERVER, IID_IQVA, root.put_void()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_QVA, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // a client holds the class object
    factory->LockServer(1);
    factory = nullptr;
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // ... or has locked the server
    ASSERT_EQ(DllGetClassObject(CLSID_QVA, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(0);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace qva
