// IDispatch served from the interface description, as a late-bound client uses it: only
// CoCreateInstance, GetIDsOfNames, Invoke and VARIANTs.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/objbase.h"
#include "platform/com/variant.h"
#include "qvacom/module/catalogue.h"
#include "qvacom_idl.h"
#include "tests/module/registered_library.h"

namespace qva {
namespace {

using com::ComPtr;
using com::Variant;

class DispatchTest : public testing::RegisteredLibrary {
 protected:
  void SetUp() override {
    RegisteredLibrary::SetUp();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"QVA.Root", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, root_.put_void()), S_OK);
  }
  DISPID Id(const char16_t* name) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(root_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    return id;
  }
  HRESULT Call(DISPID id, WORD flags, std::vector<Variant> args_right_to_left, VARIANT* result,
               EXCEPINFO* excep = nullptr, UINT* arg_err = nullptr) {
    DISPPARAMS params{args_right_to_left.data(), nullptr, static_cast<UINT>(args_right_to_left.size()), 0};
    return root_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, excep, arg_err);
  }
  ComPtr<IDispatch> root_;
};

TEST_F(DispatchTest, NamesResolveCaseInsensitively) {
  EXPECT_EQ(Id(u"Connect"), 1);
  EXPECT_EQ(Id(u"GETARRAY"), 2);
  EXPECT_EQ(Id(u"getarray"), 2);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
  EXPECT_EQ(root_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  // Parameter names come back as their positions.
  DISPID ids[3] = {};
  LPOLESTR with_params[] = {const_cast<LPOLESTR>(u"connect"), const_cast<LPOLESTR>(u"bstrPassword"),
                            const_cast<LPOLESTR>(u"nope")};
  EXPECT_EQ(root_->GetIDsOfNames(IID_NULL, with_params, 3, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
}

TEST_F(DispatchTest, AFailingMemberComesBackAsAnException) {
  Variant result;
  EXCEPINFO excep{};
  // Connect to an address where nothing listens fails with the activation's error.
  const auto args = [] {
    return std::vector<Variant>{Variant::Str(""), Variant::Str(""), Variant::Str(""), Variant::Str("127.0.0.1:1")};
  };
  EXPECT_EQ(Call(1, DISPATCH_METHOD, args(), &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, RPC_E_SERVER_UNAVAILABLE);
  EXPECT_EQ(result.vt, VT_EMPTY);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  // Without an EXCEPINFO the member's own code comes back.
  EXPECT_EQ(Call(1, DISPATCH_METHOD, args(), &result), RPC_E_SERVER_UNAVAILABLE);
}

TEST_F(DispatchTest, ArgumentsAreCountedCoercedAndCheckedRightToLeft) {
  Variant result;
  UINT arg_err = 99;
  struct Case {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<Variant> args;
    HRESULT hr;
    UINT arg_err;
  } cases[] = {
      {"too few", 1, DISPATCH_METHOD, {Variant::Str("p"), Variant::Str("d")}, DISP_E_BADPARAMCOUNT, 99},
      {"too many", 2, DISPATCH_METHOD, {Variant::I4(1)}, DISP_E_BADPARAMCOUNT, 99},
      {"no such dispid", 77, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, 99},
      {"put on a method", 2, DISPATCH_PROPERTYPUT, {}, DISP_E_MEMBERNOTFOUND, 99},
      // An interface pointer is no text: the first argument (rgvarg[3]) is reported.
      {"type mismatch",
       1,
       DISPATCH_METHOD,
       {Variant::Str(""), Variant::Str(""), Variant::Str(""), Variant::Unknown(root_.get())},
       DISP_E_TYPEMISMATCH,
       3},
      // Numbers become text: the call goes through to the activation (user "0"), which finds no
      // service at the address.
      {"coerced",
       1,
       DISPATCH_METHOD,
       {Variant::Str(""), Variant::Str(""), Variant::I4(0), Variant::Str("127.0.0.1:1")},
       RPC_E_SERVER_UNAVAILABLE,
       99},
  };
  for (Case& c : cases) {
    arg_err = 99;
    EXPECT_EQ(Call(c.id, c.flags, std::move(c.args), &result, nullptr, &arg_err), c.hr) << c.what;
    EXPECT_EQ(arg_err, c.arg_err) << c.what;
  }
  DISPID named = 0;
  Variant arg = Variant::I4(1);
  DISPPARAMS with_named{&arg, &named, 1, 1};
  EXPECT_EQ(root_->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &with_named, &result, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(root_->Invoke(2, IID_IQVA, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(InterfaceDescriptionTest, EveryCatalogueClassIsDescribedWithItsDefaultInterface) {
  ASSERT_EQ(qvacom_gen::kAllCoclassesCount, 72u);
  size_t creatable = 0;
  for (size_t i = 0; i < qvacom_gen::kAllCoclassesCount; ++i) {
    const qvacom_gen::CoclassInfo& c = qvacom_gen::kAllCoclasses[i];
    const ClassEntry* entry = FindClass(*c.clsid);
    // Creatable in the description exactly when the catalogue registers it, under the same name.
    EXPECT_EQ(entry != nullptr, c.creatable) << c.name;
    if (entry) {
      EXPECT_EQ(entry->coclass, c.name);
    }
    creatable += c.creatable;
    // Its default interface is described: I followed by the coclass name.
    bool described = false;
    for (size_t k = 0; k < qvacom_gen::kAllInterfacesCount; ++k)
      described = described || (*qvacom_gen::kAllInterfaces[k]->iid == *c.default_interface &&
                                 qvacom_gen::kAllInterfaces[k]->name == "I" + std::string(c.name));
    EXPECT_TRUE(described) << c.name;
  }
  EXPECT_EQ(creatable, Catalogue().size());
}

TEST_F(DispatchTest, EveryDescribedMemberHasAThunkAndConsistentTables) {
  for (size_t i = 0; i < qvacom_gen::kAllInterfacesCount; ++i) {
    const com::InterfaceInfo& info = *qvacom_gen::kAllInterfaces[i];
    for (const com::MemberInfo& m : info.members) {
      SCOPED_TRACE(std::string(info.name) + "." + std::string(m.name));
      EXPECT_NE(m.thunk, nullptr);
      for (size_t k = 0; k < m.params.size(); ++k) {
        const bool retval = m.params[k].flags & com::kParamRetval;
        EXPECT_TRUE(!retval || k + 1 == m.params.size());
      }
      if (m.kind == com::MemberKind::kPropGet) {
        ASSERT_FALSE(m.params.empty());
        EXPECT_TRUE(m.params.back().flags & com::kParamRetval);
      }
    }
  }
}

}  // namespace
}  // namespace qva
