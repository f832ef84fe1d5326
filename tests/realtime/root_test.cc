// The real-time root: its seven views, its date, and the class objects of every real-time class.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "qvacom/realtime/real_views.h"
#include "qvacom/realtime/realtime_root.h"
#include "tests/realtime/realtime_test_util.h"

namespace qva {
namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using testing::Get;
using testing::IdOf;
using testing::SameObject;

ComPtr<CQVARealTime> MakeRoot() {
  auto made = com::CreateObject<CQVARealTime>();
  EXPECT_TRUE(made.ok());
  return made.ok() ? std::move(*made) : nullptr;
}

TEST(RealTimeRootTest, HandsOutItsSevenViewsTheSameObjectEveryTime) {
  ComPtr<CQVARealTime> root = MakeRoot();
  ASSERT_TRUE(root);
  IDispatch* disp = root.get();
  const struct {
    const char* property;
    DISPID dispid;
    const IID* iid;
  } views[] = {
      {"RealTraffics", 1, &IID_IQVARealTraffics}, {"RealUsers", 3, &IID_IQVARealUsers},
      {"RealWarns", 4, &IID_IQVARealWarns},       {"RealFiles", 5, &IID_IQVARealFiles},
      {"RealBlocks", 6, &IID_IQVARealBlocks},     {"RealMalwares", 7, &IID_IQVARealMalwares},
      {"RealNISs", 8, &IID_IQVARealNISs},
  };
  std::vector<ComPtr<IDispatch>> seen;
  for (const auto& v : views) {
    EXPECT_EQ(IdOf(disp, v.property), v.dispid) << v.property;
    ComPtr<IDispatch> first = testing::AsDispatch(Get(disp, v.property));
    ComPtr<IDispatch> again = testing::AsDispatch(Get(disp, v.property));
    ASSERT_TRUE(first && again) << v.property;
    EXPECT_TRUE(SameObject(first.get(), again.get())) << v.property;
    ComPtr<IUnknown> typed;
    EXPECT_EQ(first->QueryInterface(*v.iid, typed.put_void()), S_OK) << v.property;
    for (const auto& other : seen) EXPECT_FALSE(SameObject(first.get(), other.get())) << v.property;
    seen.push_back(first);
  }
}

TEST(RealTimeRootTest, CurDateStartsAtTheFirstOfJanuary2000AndKeepsWhatIsPut) {
  ComPtr<CQVARealTime> root = MakeRoot();
  ASSERT_TRUE(root);
  DATE date = 0;
  ASSERT_EQ(root->get_CurDate(&date), S_OK);
  EXPECT_EQ(date, 36526.0);
  Variant late = Get(root.get(), "CurDate");
  EXPECT_EQ(late.vt, VT_DATE);
  EXPECT_EQ(late.date, 36526.0);
  EXPECT_EQ(IdOf(root.get(), "CurDate"), 2);

  // Typed and late-bound puts, including a date before 1899-12-30 and the last of year 9999.
  for (DATE put : {0.0, 46000.5, -1.25, 2958465.999988426}) {
    ASSERT_EQ(root->put_CurDate(put), S_OK);
    ASSERT_EQ(root->get_CurDate(&date), S_OK);
    EXPECT_EQ(date, put);
    testing::Put(root.get(), "CurDate", Variant::Date(put + 1));
    EXPECT_EQ(Get(root.get(), "CurDate").date, put + 1);
  }
  EXPECT_EQ(root->get_CurDate(nullptr), E_POINTER);
}

TEST(RealTimeRootTest, ViewsOutliveTheRootWhileAConsoleHoldsThem) {
  ComPtr<IQVARealWarns> warns;
  {
    ComPtr<CQVARealTime> root = MakeRoot();
    ASSERT_TRUE(root);
    ASSERT_EQ(root->get_RealWarns(warns.put()), S_OK);
    ComPtr<IQVARealWarn> warn;
    ASSERT_EQ(warns->Add(Bstr("before").get(), warn.put()), S_OK);
  }
  ComPtr<IQVARealWarn> warn;
  ASSERT_EQ(warns->Add(Bstr("after").get(), warn.put()), S_OK);
  EXPECT_EQ(testing::Names(testing::Records<IQVARealWarn>(warns.get())), (std::vector<std::string>{"after", "before"}));
}

TEST(RealTimeRootTest, NullOutPointersAreRefused) {
  ComPtr<CQVARealTime> root = MakeRoot();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->get_RealTraffics(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealUsers(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealWarns(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealFiles(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealBlocks(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealMalwares(nullptr), E_POINTER);
  EXPECT_EQ(root->get_RealNISs(nullptr), E_POINTER);
}

// Every real-time class is creatable: its class object makes an instance that answers its
// interface, IDispatch and IUnknown.
TEST(RealTimeClassesTest, EachClassObjectMakesItsClass) {
  const struct {
    const char* coclass;
    HRESULT (*class_object)(REFIID, void**);
    const IID* iid;
  } classes[] = {
      {"QVARealTime", &com::MakeClassObject<com::ClassFactory<CQVARealTime>>, &IID_IQVARealTime},
      {"QVARealTraffics", &com::MakeClassObject<com::ClassFactory<CQVARealTraffics>>, &IID_IQVARealTraffics},
      {"QVARealTraffic", &com::MakeClassObject<com::ClassFactory<CQVARealTraffic>>, &IID_IQVARealTraffic},
      {"QVARealUsers", &com::MakeClassObject<com::ClassFactory<CQVARealUsers>>, &IID_IQVARealUsers},
      {"QVARealUser", &com::MakeClassObject<com::ClassFactory<CQVARealUser>>, &IID_IQVARealUser},
      {"QVARealWarns", &com::MakeClassObject<com::ClassFactory<CQVARealWarns>>, &IID_IQVARealWarns},
      {"QVARealWarn", &com::MakeClassObject<com::ClassFactory<CQVARealWarn>>, &IID_IQVARealWarn},
      {"QVARealFiles", &com::MakeClassObject<com::ClassFactory<CQVARealFiles>>, &IID_IQVARealFiles},
      {"QVARealFile", &com::MakeClassObject<com::ClassFactory<CQVARealFile>>, &IID_IQVARealFile},
      {"QVARealBlocks", &com::MakeClassObject<com::ClassFactory<CQVARealBlocks>>, &IID_IQVARealBlocks},
      {"QVARealBlock", &com::MakeClassObject<com::ClassFactory<CQVARealBlock>>, &IID_IQVARealBlock},
      {"QVARealMalwares", &com::MakeClassObject<com::ClassFactory<CQVARealMalwares>>, &IID_IQVARealMalwares},
      {"QVARealMalware", &com::MakeClassObject<com::ClassFactory<CQVARealMalware>>, &IID_IQVARealMalware},
      {"QVARealNISs", &com::MakeClassObject<com::ClassFactory<CQVARealNISs>>, &IID_IQVARealNISs},
      {"QVARealNIS", &com::MakeClassObject<com::ClassFactory<CQVARealNIS>>, &IID_IQVARealNIS},
  };
  for (const auto& c : classes) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(c.class_object(IID_IClassFactory, factory.put_void()), S_OK) << c.coclass;
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, *c.iid, object.put_void()), S_OK) << c.coclass;
    ComPtr<IDispatch> disp;
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, disp.put_void()), S_OK) << c.coclass;
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK) << c.coclass;
    ComPtr<IUnknown> other;
    EXPECT_EQ(object->QueryInterface(IID_IQVA, other.put_void()), E_NOINTERFACE) << c.coclass;
  }
}

}  // namespace
}  // namespace qva
