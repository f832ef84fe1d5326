#include <gtest/gtest.h>

#include <thread>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/errorinfo.h"

namespace {

using com::Bstr;
using com::ComPtr;

TEST(ErrorInfoTest, ReportedErrorIsTakenOnceByItsThread) {
  EXPECT_EQ(com::ReportError(E_INVALIDARG, "QVA.DataBase", "Le fichier «x» n'existe pas"), E_INVALIDARG);

  // Another thread sees nothing of it.
  HRESULT other = E_FAIL;
  std::thread([&] {
    ComPtr<IErrorInfo> info;
    other = GetErrorInfo(0, info.put());
  }).join();
  EXPECT_EQ(other, S_FALSE);

  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  Bstr source, description;
  ASSERT_EQ(info->GetSource(source.put()), S_OK);
  ASSERT_EQ(info->GetDescription(description.put()), S_OK);
  EXPECT_EQ(source.utf8(), "QVA.DataBase");
  EXPECT_EQ(description.utf8(), "Le fichier «x» n'existe pas");
  GUID guid{};
  EXPECT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, GUID_NULL);

  ComPtr<IErrorInfo> again;
  EXPECT_EQ(GetErrorInfo(0, again.put()), S_FALSE);  // taking it clears it
  EXPECT_EQ(again, nullptr);
}

TEST(ErrorInfoTest, SetErrorInfoReplacesAndClears) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"first"));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(create.As(&info), S_OK);
  EXPECT_EQ(SetErrorInfo(1, info.get()), E_INVALIDARG);
  ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  ComPtr<IErrorInfo> got;
  EXPECT_EQ(GetErrorInfo(0, got.put()), S_FALSE);
  com::ReportError(E_FAIL, "a", "b");
  com::ClearError();
  EXPECT_EQ(GetErrorInfo(0, got.put()), S_FALSE);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

}  // namespace
