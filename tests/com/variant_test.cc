#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "platform/com/oleauto.h"

namespace {

// An IUnknown that only counts its references.
struct CountingUnknown : IUnknown {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  return v;
}

std::u16string_view View(BSTR b) { return std::u16string_view(b, SysStringLen(b)); }

TEST(VariantTest, InitMakesEmpty) {
  VARIANT v = Make(VT_I4);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(VariantTest, ClearReleasesWhatTheVariantOwns) {
  CountingUnknown unk;
  VARIANT v = Make(VT_UNKNOWN);
  v.punkVal = &unk;
  unk.refs = 2;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v = Make(VT_DISPATCH);
  v.punkVal = nullptr;  // a null interface is a valid value
  EXPECT_EQ(VariantClear(&v), S_OK);

  v = Make(VT_BSTR);
  v.bstrVal = SysAllocString(u"freed");  // the leak checker sees it if it is not freed
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(VariantTest, ClearOfReferenceTouchesNothing) {
  CountingUnknown unk;
  IUnknown* p = &unk;
  VARIANT v = Make(VT_UNKNOWN | VT_BYREF);
  v.ppunkVal = &p;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(VariantTest, ClearRefusesUnknownTypes) {
  for (VARTYPE vt : {VARTYPE{15}, VARTYPE{VT_VOID}, VARTYPE{VT_LPWSTR}, VARTYPE{VT_I4 | 0x1000},
                     VARTYPE{VT_I4 | VT_ARRAY}, VARTYPE{VT_RECORD}, VARTYPE{VT_EMPTY | VT_BYREF}, VARTYPE{0xFF}}) {
    SCOPED_TRACE(vt);
    VARIANT v = Make(vt);
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, vt);
  }
}

TEST(VariantTest, CopyDuplicatesStringsAndAddsReferences) {
  VARIANT src = Make(VT_BSTR);
  src.bstrVal = SysAllocStringByteLen("abc", 3);  // odd byte length survives the copy
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(SysStringByteLen(dst.bstrVal), 3u);
  EXPECT_EQ(std::memcmp(dst.bstrVal, "abc", 3), 0);
  VariantClear(&src);

  CountingUnknown unk;
  src = Make(VT_UNKNOWN);
  src.punkVal = &unk;
  // Copying over a string frees the string first.
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.punkVal, &unk);
  EXPECT_EQ(unk.refs, 2u);
  ASSERT_EQ(VariantCopy(&dst, &dst), S_OK);  // onto itself: nothing changes
  EXPECT_EQ(unk.refs, 2u);
  VariantClear(&dst);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(VariantTest, CopyOfReferenceIsShallow) {
  CountingUnknown unk;
  IUnknown* p = &unk;
  VARIANT src = Make(VT_UNKNOWN | VT_BYREF);
  src.ppunkVal = &p;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_UNKNOWN | VT_BYREF);
  EXPECT_EQ(dst.ppunkVal, &p);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(VariantTest, CopyFailuresLeaveTheDestination) {
  VARIANT bad = Make(VT_VOID);
  VARIANT dst = Make(VT_I4);
  dst.lVal = 7;
  EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 7);

  VARIANT src = Make(VT_I4);
  src.lVal = 1;
  bad = Make(0xFF);
  EXPECT_EQ(VariantCopy(&bad, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 0xFF);
}

TEST(VariantTest, CopyIndDereferencesScalars) {
  SHORT i2 = -2;
  LONG i4 = 123456;
  DOUBLE r8 = 2.5;
  DATE date = 36526.25;
  VARIANT_BOOL b = VARIANT_TRUE;
  BYTE ui1 = 200;
  LONGLONG i8 = -(LONGLONG{1} << 40);
  SCODE scode = DISP_E_PARAMNOTFOUND;
  struct Case {
    VARTYPE vt;
    void* ref;
    size_t size;
  } cases[] = {{VT_I2, &i2, 2},  {VT_I4, &i4, 4},   {VT_R8, &r8, 8}, {VT_DATE, &date, 8},
               {VT_BOOL, &b, 2}, {VT_UI1, &ui1, 1}, {VT_I8, &i8, 8}, {VT_ERROR, &scode, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vt);
    VARIANT src = Make(c.vt | VT_BYREF);
    src.byref = c.ref;
    VARIANT dst = Make(VT_EMPTY);
    ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, c.vt);
    EXPECT_EQ(std::memcmp(&dst.llVal, c.ref, c.size), 0);
  }
}

TEST(VariantTest, CopyIndDeepCopiesReferencedStringsAndInterfaces) {
  BSTR s = SysAllocString(u"text");
  VARIANT src = Make(VT_BSTR | VT_BYREF);
  src.pbstrVal = &s;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, s);
  EXPECT_EQ(View(dst.bstrVal), u"text");
  VariantClear(&dst);
  SysFreeString(s);

  CountingUnknown unk;
  IUnknown* p = &unk;
  src = Make(VT_UNKNOWN | VT_BYREF);
  src.ppunkVal = &p;
  ASSERT_EQ(VariantCopyInd(&src, &src), S_OK);  // in place
  EXPECT_EQ(src.vt, VT_UNKNOWN);
  EXPECT_EQ(src.punkVal, &unk);
  EXPECT_EQ(unk.refs, 2u);
  VariantClear(&src);
  EXPECT_EQ(unk.refs, 1u);
}

TEST(VariantTest, CopyIndFollowsVariantReferencesOneLevel) {
  BYTE byte = 0x88;
  VARIANT inner = Make(VT_UI1);
  inner.bVal = 0x77;
  VARIANT src = Make(VT_VARIANT | VT_BYREF);
  src.pvarVal = &inner;
  VARIANT dst = Make(VT_EMPTY);
  ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_UI1);
  EXPECT_EQ(dst.bVal, 0x77);

  inner = Make(VT_UI1 | VT_BYREF);
  inner.pbVal = &byte;
  ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_UI1);
  EXPECT_EQ(dst.bVal, 0x88);

  VARIANT innermost = Make(VT_UI1);
  inner = Make(VT_VARIANT | VT_BYREF);
  inner.pvarVal = &innermost;
  EXPECT_EQ(VariantCopyInd(&dst, &src), E_INVALIDARG);

  src.pvarVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&dst, &src), E_INVALIDARG);
}

}  // namespace
