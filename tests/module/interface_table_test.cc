// Members sampled from every interface's published table: name, dispid, kind, and the type
// information handed out for them.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/typeinfo.h"
#include "qvacom_idl.h"

namespace {

using com::MemberKind;

const com::InterfaceInfo* FindInterface(std::string_view name) {
  for (size_t i = 0; i < qvacom_gen::kAllInterfacesCount; ++i)
    if (qvacom_gen::kAllInterfaces[i]->name == name) return qvacom_gen::kAllInterfaces[i];
  return nullptr;
}

TEST(InterfaceTableTest, SampledMembersHaveTheirPublishedDispidAndKind) {
  constexpr auto M = MemberKind::kMethod, G = MemberKind::kPropGet, P = MemberKind::kPropPut;
  struct Sample {
    const char* itf;
    const char* member;
    DISPID dispid;
    MemberKind kind;
  } samples[] = {
      {"IQVA", "Connect", 1, M},
      {"IQVA", "GetArray", 2, M},
      {"IQVAArray", "SayHello", 1, M},
      {"IQVAArray", "Users", 2, G},
      {"IQVAArray", "RestartServices", 3, M},
      {"IQVADataBase", "Connection", 1, G},
      {"IQVADataBase", "Execute", 2, M},
      {"IQVADataBase", "Delimiter", 3, G},
      {"IQVAXMLDoc", "XMLDOMDocument", 1, G},
      {"IQVAXMLDoc", "Open", 2, M},
      {"IQVAXMLDoc", "Save", 3, M},
      {"IQVAUsers", "Item", 1, M},
      {"IQVAUsers", "_NewEnum", -4, G},
      {"IQVAUsers", "FindByFullname", 7, M},
      {"IQVAUsers", "Index", 11, M},
      {"IQVAUser", "Name", 1, G},
      {"IQVAUser", "Name", 1, P},
      {"IQVAUser", "nRef", 2, G},
      {"IQVADeps", "Init", 1, M},
      {"IQVADeps", "Item", 4, M},
      {"IQVADeps", "_NewEnum", 5, G},
      {"IQVAComputers", "Add", 1, M},
      {"IQVAComputers", "_NewEnum", 4, G},
      {"IQVAFees", "_NewEnum", 3, G},
      {"IQVAFee", "FeeAdd", 3, P},
      {"IQVALimitIPs", "Add", 1, M},
      {"IQVAApplications", "Remove", 3, M},
      {"IQVAFilterRuleSet", "GetFilterRules", 1, M},
      {"IQVAFilterRuleSet", "ContainElements", 15, M},
      {"IQVAFilterRules", "Match", 11, M},
      {"IQVAFilterRules", "ContainElements", 12, M},
      {"IQVADiscountTimes", "Item", 1, M},
      {"IQVADiscountTimes", "Count", 3, G},
      {"IQVALogDirs", "Save", 2, M},
      {"IQVAReportTasks", "Add", 3, M},
      {"IQVAEvents", "Init", 1, M},
      {"IQVARealTime", "RealTraffics", 1, G},
      {"IQVARealTime", "CurDate", 2, G},
      {"IQVARealTime", "CurDate", 2, P},
      {"IQVARealTime", "RealUsers", 3, G},
      {"IQVARealWarns", "Add", 1, M},
      {"IQVARealWarns", "_NewEnum", 3, G},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(std::string(s.itf) + "." + s.member);
    const com::InterfaceInfo* info = FindInterface(s.itf);
    ASSERT_NE(info, nullptr);
    bool found = false;
    for (const com::MemberInfo& m : info->members)
      found = found || (m.name == s.member && m.dispid == s.dispid && m.kind == s.kind);
    EXPECT_TRUE(found);
  }
}

TEST(InterfaceTableTest, TypeInformationDescribesTheMembers) {
  const com::InterfaceInfo& info = com::InterfaceInfoOf<IQVA>();
  com::ComPtr<ITypeInfo> type;
  ASSERT_EQ(com::DispatchGetTypeInfo(info, 1, type.put()), DISP_E_BADINDEX);
  ASSERT_EQ(com::DispatchGetTypeInfo(info, 0, type.put()), S_OK);

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IQVA);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 2);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  type->ReleaseTypeAttr(attr);

  FUNCDESC* fd = nullptr;
  ASSERT_EQ(type->GetFuncDesc(0, &fd), S_OK);
  EXPECT_EQ(fd->memid, 1);
  EXPECT_EQ(fd->invkind, INVOKE_FUNC);
  EXPECT_EQ(fd->cParams, 4);  // the retval is the function's result
  EXPECT_EQ(fd->lprgelemdescParam[3].tdesc.vt, VT_BSTR);
  EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_DISPATCH);
  type->ReleaseFuncDesc(fd);
  EXPECT_EQ(type->GetFuncDesc(2, &fd), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[6] = {};
  UINT count = 0;
  ASSERT_EQ(type->GetNames(1, names, 6, &count), S_OK);
  ASSERT_EQ(count, 5u);
  EXPECT_EQ(com::BstrToUtf8(names[0]), "Connect");
  EXPECT_EQ(com::BstrToUtf8(names[4]), "bstrPassword");
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);

  com::Bstr name;
  ASSERT_EQ(type->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(name.utf8(), "IQVA");
  MEMBERID id = 0;
  LPOLESTR wanted[] = {const_cast<LPOLESTR>(u"GETARRAY")};
  EXPECT_EQ(type->GetIDsOfNames(wanted, 1, &id), S_OK);
  EXPECT_EQ(id, 2);
}

}  // namespace
