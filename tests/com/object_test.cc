// The object templates: reference counting, QueryInterface, aggregation, class objects and the
// module lock count they keep.
#include <gtest/gtest.h>

#include "platform/com/guid.h"
#include "platform/com/object.h"

namespace {

using com::ComPtr;

struct IFoo : IUnknown {
  static constexpr IID iid = com::MakeGuid("{11111111-0000-0000-0000-000000000001}");
  virtual LONG STDMETHODCALLTYPE Foo() = 0;
};
struct IBar : IDispatch {
  static constexpr IID iid = com::MakeGuid("{11111111-0000-0000-0000-000000000002}");
  virtual LONG STDMETHODCALLTYPE Bar() = 0;
};

int g_destroyed = 0;
HRESULT g_final_construct = S_OK;

class CFooBar : public com::Implements<IFoo, IBar> {
 public:
  HRESULT FinalConstruct() { return g_final_construct; }
  void FinalRelease() { ++g_destroyed; }
  LONG STDMETHODCALLTYPE Foo() override { return 1; }
  LONG STDMETHODCALLTYPE Bar() override { return 2; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_FAIL;
  }
};

// A minimal outer object that aggregates a CFooBar.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
  ComPtr<IUnknown> inner;
};

class ObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_destroyed = 0;
    g_final_construct = S_OK;
    ASSERT_EQ(com::ThisModule().LockCount(), 0);
  }
  void TearDown() override { EXPECT_EQ(com::ThisModule().LockCount(), 0); }
};

TEST_F(ObjectTest, QueryInterfaceFindsEveryInterfaceAndOneIdentity) {
  auto made = com::CreateObject<CFooBar>();
  ASSERT_TRUE(made.ok());
  ComPtr<IFoo> foo;
  ASSERT_EQ(made->As(&foo), S_OK);
  ComPtr<IBar> bar;
  ComPtr<IDispatch> disp;
  ComPtr<IUnknown> unk1, unk2;
  EXPECT_EQ(foo.As(&bar), S_OK);
  EXPECT_EQ(foo.As(&disp), S_OK);  // IBar is dual: IDispatch leads to it
  EXPECT_EQ(static_cast<IUnknown*>(disp.get()), static_cast<IUnknown*>(bar.get()));
  EXPECT_EQ(foo.As(&unk1), S_OK);
  EXPECT_EQ(bar.As(&unk2), S_OK);
  EXPECT_EQ(unk1.get(), unk2.get());
  EXPECT_EQ(bar->Bar(), 2);
  ComPtr<IClassFactory> none;
  EXPECT_EQ(foo.As(&none), E_NOINTERFACE);
  EXPECT_EQ(foo->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(com::ThisModule().LockCount(), 1);
  made.value() = nullptr;
  foo = nullptr, bar = nullptr, disp = nullptr, unk1 = nullptr;
  EXPECT_EQ(g_destroyed, 0);
  unk2 = nullptr;  // the last reference
  EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ObjectTest, FailedFinalConstructDestroysTheObject) {
  g_final_construct = E_OUTOFMEMORY;
  auto made = com::CreateObject<CFooBar>();
  EXPECT_EQ(made.error(), E_OUTOFMEMORY);
  EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ObjectTest, FactoryMakesAggregatesThatDelegateToTheirOuterObject) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(com::MakeClassObject<com::ClassFactory<CFooBar>>(IID_IClassFactory, factory.put_void()), S_OK);
  Outer outer;
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(factory->CreateInstance(&outer, IFoo::iid, wrong.put_void()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(wrong, nullptr);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()), S_OK);
  EXPECT_EQ(outer.refs, 1u);  // the inner unknown counts on itself

  IFoo* foo = nullptr;
  ASSERT_EQ(outer.QueryInterface(IFoo::iid, reinterpret_cast<void**>(&foo)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // references on an inner interface are the outer object's
  IUnknown* identity = nullptr;
  ASSERT_EQ(foo->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  identity->Release();
  foo->Release();
  EXPECT_EQ(outer.refs, 1u);
  outer.inner = nullptr;
  EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ObjectTest, FactoryMakesStandaloneObjectsAndLocksTheServer) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(com::MakeClassObject<com::ClassFactory<CFooBar>>(IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(com::ThisModule().LockCount(), 0);  // a class object alone does not hold the module...
  ComPtr<IClassFactory> second = factory;
  EXPECT_EQ(com::ThisModule().LockCount(), 1);  // ...a further reference does
  second = nullptr;
  ComPtr<IBar> bar;
  EXPECT_EQ(factory->CreateInstance(nullptr, IBar::iid, nullptr), E_POINTER);
  ASSERT_EQ(factory->CreateInstance(nullptr, IBar::iid, bar.put_void()), S_OK);
  EXPECT_EQ(com::ThisModule().LockCount(), 1);
  factory->LockServer(1);
  EXPECT_EQ(com::ThisModule().LockCount(), 2);
  factory->LockServer(0);
  bar = nullptr;
  g_final_construct = E_ABORT;
  EXPECT_EQ(factory->CreateInstance(nullptr, IBar::iid, bar.put_void()), E_ABORT);
  EXPECT_EQ(bar, nullptr);
}

TEST_F(ObjectTest, SingletonFactoryKeepsItsObjectAndItsFailure) {
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(com::MakeClassObject<com::SingletonClassFactory<CFooBar>>(IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IFoo> a, b;
    ASSERT_EQ(factory->CreateInstance(nullptr, IFoo::iid, a.put_void()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IFoo::iid, b.put_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(com::ThisModule().LockCount(), 2);  // each reference holds the module
    a = nullptr, b = nullptr;
    EXPECT_EQ(g_destroyed, 0);  // clients never destroy it...
  }
  EXPECT_EQ(g_destroyed, 1);  // ...its class object does

  ComPtr<IClassFactory> failing;
  ASSERT_EQ(com::MakeClassObject<com::SingletonClassFactory<CFooBar>>(IID_IClassFactory, failing.put_void()), S_OK);
  g_final_construct = E_ACCESSDENIED;
  ComPtr<IFoo> foo;
  EXPECT_EQ(failing->CreateInstance(nullptr, IFoo::iid, foo.put_void()), E_ACCESSDENIED);
  g_final_construct = S_OK;  // the first failure is kept
  EXPECT_EQ(failing->CreateInstance(nullptr, IFoo::iid, foo.put_void()), E_ACCESSDENIED);
}

}  // namespace
