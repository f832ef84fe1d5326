// Invoke on small objects of described interfaces: property puts, and for-each through
// DISPID_NEWENUM whatever dispid an interface gave its _NewEnum.
#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "qvacom_idl.h"
#include "tests/support/test_backup.h"

namespace {

using com::Variant;

using qva::testing::CTestBackup;

// Answers _NewEnum with itself, standing in for an enumerator; counts its calls.
class CTestWarns : public com::Dispatch<IQVARealWarns> {
 public:
  HRESULT STDMETHODCALLTYPE Add(BSTR, IQVARealWarn** p) override {
    *p = nullptr;
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* p) override {
    *p = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** p) override {
    ++enumerations;
    return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(p));
  }
  HRESULT STDMETHODCALLTYPE Pop() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveAll() override { return S_OK; }
  int enumerations = 0;
};

TEST(DispatchTest, PropertyPutTakesTheNamedValueAndCoercesIt) {
  auto obj = com::CreateObject<CTestBackup>();
  IDispatch* disp = obj->get();
  (*obj)->name_ = com::Bstr();
  Variant value = Variant::R8(0.5);
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS put{&value, &put_id, 1, 1};
  ASSERT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ((*obj)->name_.utf8(), "0.5");

  Variant result;
  DISPPARAMS none{};
  ASSERT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(com::BstrToUtf8(result.bstrVal), "0.5");

  DISPID wrong_id = 0;
  DISPPARAMS wrong{&value, &wrong_id, 1, 1};
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &wrong, nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);
  DISPPARAMS missing{nullptr, &put_id, 0, 1};
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &missing, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST(DispatchTest, NewEnumIsReachedThroughItsStandardDispid) {
  auto obj = com::CreateObject<CTestWarns>();
  IDispatch* disp = obj->get();
  DISPPARAMS none{};
  for (DISPID id : {DISPID_NEWENUM, DISPID{3}}) {
    Variant result;
    ASSERT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result, nullptr,
                           nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_UNKNOWN);
  }
  EXPECT_EQ((*obj)->enumerations, 2);
  Variant count;
  ASSERT_EQ(disp->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &count, nullptr, nullptr), S_OK);
  EXPECT_EQ(count.vt, VT_I4);
  EXPECT_EQ(count.lVal, 7);
}

}  // namespace
