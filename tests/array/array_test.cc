// The array object: start-up in a fresh folder, its step and success codes, the log it writes,
// the firewall link against recording doubles, and export and import of the configuration.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "platform/com/variant.h"
#include "tests/array/array_fixture.h"

namespace qva::testing {
namespace {

using com::Bstr;
using com::ComPtr;

constexpr HRESULT kDatabaseNotOpened = static_cast<HRESULT>(0x00040203);
constexpr HRESULT kDocumentFailed = static_cast<HRESULT>(0xC0040300);

// A getter of one child, by its property name.
struct Child {
  const char* name;
  std::function<HRESULT(IQVAArray*, IUnknown**)> get;
};

template <class I>
std::function<HRESULT(IQVAArray*, IUnknown**)> Getter(HRESULT (STDMETHODCALLTYPE IQVAArray::*get)(I**)) {
  return [get](IQVAArray* a, IUnknown** out) {
    I* child = nullptr;
    const HRESULT hr = (a->*get)(&child);
    *out = child;
    return hr;
  };
}

const std::vector<Child>& Children() {
  static const std::vector<Child> children = {
      {"Users", Getter(&IQVAArray::get_Users)},
      {"LogDirs", Getter(&IQVAArray::get_LogDirs)},
      {"Control", Getter(&IQVAArray::get_Control)},
      {"FilterRuleSet", Getter(&IQVAArray::get_FilterRuleSet)},
      {"RealTime", Getter(&IQVAArray::get_RealTime)},
      {"DataBase", Getter(&IQVAArray::get_DataBase)},
      {"Deps", Getter(&IQVAArray::get_Deps)},
      {"Computers", Getter(&IQVAArray::get_Computers)},
      {"Groups", Getter(&IQVAArray::get_Groups)},
      {"Applications", Getter(&IQVAArray::get_Applications)},
      {"Destaddrs", Getter(&IQVAArray::get_Destaddrs)},
      {"Filetypes", Getter(&IQVAArray::get_Filetypes)},
      {"Ports", Getter(&IQVAArray::get_Ports)},
      {"Protocols", Getter(&IQVAArray::get_Protocols)},
      {"LimitIPs", Getter(&IQVAArray::get_LimitIPs)},
      {"UserFees", Getter(&IQVAArray::get_UserFees)},
      {"DepFees", Getter(&IQVAArray::get_DepFees)},
      {"ComputerFees", Getter(&IQVAArray::get_ComputerFees)},
      {"GroupFees", Getter(&IQVAArray::get_GroupFees)},
      {"XMLDoc", Getter(&IQVAArray::get_XMLDoc)},
      {"ElementSet", Getter(&IQVAArray::get_ElementSet)},
      {"Domains", Getter(&IQVAArray::get_Domains)},
      {"DiscountTimes", Getter(&IQVAArray::get_DiscountTimes)},
      {"Configure", Getter(&IQVAArray::get_Configure)},
      {"Backups", Getter(&IQVAArray::get_Backups)},
      {"Archs", Getter(&IQVAArray::get_Archs)},
      {"ReportTasks", Getter(&IQVAArray::get_ReportTasks)},
      {"Events", Getter(&IQVAArray::get_Events)},
      {"IPs", Getter(&IQVAArray::get_IPs)},
      {"Categories", Getter(&IQVAArray::get_Categories)},
      {"Rules", Getter(&IQVAArray::get_Rules)},
      {"Threats", Getter(&IQVAArray::get_Threats)},
      {"Signatures", Getter(&IQVAArray::get_Signatures)},
  };
  return children;
}

template <class I>
ComPtr<I> Get(IQVAArray* array, HRESULT (STDMETHODCALLTYPE IQVAArray::*get)(I**)) {
  ComPtr<I> out;
  EXPECT_EQ((array->*get)(out.put()), S_OK);
  return out;
}

template <class C>
LONG CountOf(const ComPtr<C>& collection) {
  LONG n = -1;
  EXPECT_EQ(collection->get_Count(&n), S_OK);
  return n;
}

class ArrayTest : public ArrayFixture {
 protected:
  // Fills every kind of database row the export carries at least once.
  void AddRows(IQVAArray* array) {
    auto users = Get(array, &IQVAArray::get_Users);
    ComPtr<IQVAUser> user;
    ASSERT_EQ(users->Add(Bstr("alice").get(), user.put()), S_OK);
    ASSERT_EQ(user->put_FullName(Bstr("Alice Liddell").get()), S_OK);
    ASSERT_EQ(user->Save(VARIANT_TRUE), S_OK);
    auto deps = Get(array, &IQVAArray::get_Deps);
    ComPtr<IQVADep> dep;
    ASSERT_EQ(deps->Add(Bstr("sales").get(), dep.put()), S_OK);
    ASSERT_EQ(dep->Save(VARIANT_TRUE), S_OK);
    auto ports = Get(array, &IQVAArray::get_Ports);
    ComPtr<IQVAPort> port;
    ASSERT_EQ(ports->Add(Bstr("web").get(), port.put()), S_OK);
    ASSERT_EQ(port->Save(VARIANT_TRUE), S_OK);
    auto fees = Get(array, &IQVAArray::get_UserFees);
    ComPtr<IQVAFee> fee;
    ASSERT_EQ(fees->Add(Bstr("alice").get(), fee.put()), S_OK);
    ASSERT_EQ(fee->put_Date(40761.0), S_OK);  // 2011-08-06
    ASSERT_EQ(fee->put_FeeAdd(12.5), S_OK);
    ASSERT_EQ(fee->Save(VARIANT_TRUE), S_OK);
  }

  // Adds settings the configuration export carries.
  void AddSettings(IQVAArray* array) {
    auto domains = Get(array, &IQVAArray::get_Domains);
    ComPtr<IQVADomain> domain;
    ASSERT_EQ(domains->Add(Bstr("corp.example").get(), domain.put()), S_OK);
    auto ips = Get(array, &IQVAArray::get_IPs);
    ASSERT_EQ(ips->Add(Bstr("10.0.0.1").get(), Bstr("10.0.0.9").get()), S_OK);
    auto configure = Get(array, &IQVAArray::get_Configure);
    ASSERT_EQ(configure->put_FirewallServer(Bstr("fw.example").get()), S_OK);
    ASSERT_EQ(array->Save(), S_OK);
  }

  std::string Export(IQVAArray* array, const char* name) {
    const fs::path file = dir_.path() / name;
    EXPECT_EQ(array->SaveXML(Bstr(file.string()).get()), S_OK);
    return ReadFile(file);
  }
  std::string ExportConfig(IQVAArray* array, const char* name) {
    const fs::path file = dir_.path() / name;
    EXPECT_EQ(array->SaveConfigXML(Bstr(file.string()).get()), S_OK);
    return ReadFile(file);
  }
  HRESULT Import(IQVAArray* array, const std::string& text, bool config) {
    const fs::path file = dir_.path() / "import.xml";
    WriteFile(file, text);
    const Bstr name(file.string());
    return config ? array->LoadConfigXML(name.get()) : array->LoadXML(name.get());
  }
};

TEST_F(ArrayTest, FirstStartMakesTheWorkingFilesAndLogsTheStart) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  EXPECT_TRUE(fs::is_regular_file(base_ / "vodrik_e.xml"));
  EXPECT_TRUE(fs::is_regular_file(base_ / "Vodrik_e.ntf"));
  EXPECT_TRUE(fs::is_directory(base_ / "logs"));
  // The copies went through temporary files; none is left.
  for (const auto& entry : fs::directory_iterator(base_)) {
    const std::string name = entry.path().filename().string();
    for (const std::string copy : {"vodrik_e.xml.", "Vodrik_e.ntf."})
      EXPECT_FALSE(name.starts_with(copy) && name.size() == copy.size() + 6) << name;
  }

  // The real firewall proxy reaches no firewall here; the template names no edition anyway.
  const std::vector<std::string> expected = {"NORMAL, Vodrik server init.", "WARN, Can not connect to Firewall server.",
                                             "NORMAL, Vodrik server init finished."};
  EXPECT_EQ(LogMessages(), expected);
  // Every line went to the events list too, newest first.
  auto events = Get(array.get(), &IQVAArray::get_Events);
  ASSERT_EQ(CountOf(events), 3);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(events->get__NewEnum(unknown.put()), S_OK);
  ComPtr<IEnumVARIANT> enumerator;
  ASSERT_EQ(unknown.As(&enumerator), S_OK);
  com::Variant item;
  ULONG fetched = 0;
  ASSERT_EQ(enumerator->Next(1, item.put(), &fetched), S_OK);
  ASSERT_EQ(item.vt, VT_DISPATCH);
  ComPtr<IQVAEvent> newest;
  ASSERT_EQ(item.pdispVal->QueryInterface(IID_IQVAEvent, newest.put_void()), S_OK);
  Bstr content;
  LONG type = -1;
  ASSERT_EQ(newest->get_Content(content.put()), S_OK);
  ASSERT_EQ(newest->get_Type(&type), S_OK);
  EXPECT_EQ(content.utf8(), "Vodrik server init finished.");
  EXPECT_EQ(type, 0);

  for (const Child& c : Children()) {
    ComPtr<IUnknown> child;
    const HRESULT hr = c.get(array.get(), child.put());
    if (std::string(c.name) == "Control") continue;
    EXPECT_EQ(hr, S_OK) << c.name;
    EXPECT_NE(child, nullptr) << c.name;
  }
  ComPtr<IUnknown> proxy;
  EXPECT_EQ(array->get_Proxy(proxy.put()), S_OK) << "the proxy stays although its Connect failed";
}

TEST_F(ArrayTest, TemplateCopiesNeverOverwrite) {
  {
    auto first = MakeArray();
    ASSERT_EQ(first->Init(), S_OK);
    AddRows(first.get());
    AddSettings(first.get());
  }
  // Templates that would fail the start if they were copied again.
  WriteFile(base_ / "vodrik_e.xmt", "not a settings template");
  WriteFile(base_ / "Vodrik.ntt", "not a database");
  auto second = MakeArray();
  ASSERT_EQ(second->Init(), S_OK);
  EXPECT_EQ(CountOf(Get(second.get(), &IQVAArray::get_Users)), 1);
  EXPECT_EQ(CountOf(Get(second.get(), &IQVAArray::get_Domains)), 1);
}

TEST_F(ArrayTest, EveryChildIsEFailBeforeInit) {
  auto array = MakeArray();
  for (const Child& c : Children()) {
    ComPtr<IUnknown> child;
    EXPECT_EQ(c.get(array.get(), child.put()), E_FAIL) << c.name;
    EXPECT_EQ(child, nullptr) << c.name;
  }
  ComPtr<IUnknown> proxy;
  EXPECT_EQ(array->get_Proxy(proxy.put()), E_FAIL);
  const Bstr file((dir_.path() / "x.xml").string());
  EXPECT_EQ(array->Save(), E_FAIL);
  EXPECT_EQ(array->Reload(), E_FAIL);
  EXPECT_EQ(array->SaveXML(file.get()), E_FAIL);
  EXPECT_EQ(array->LoadXML(file.get()), E_FAIL);
  EXPECT_EQ(array->SaveConfigXML(file.get()), E_FAIL);
  EXPECT_EQ(array->LoadConfigXML(file.get()), E_FAIL);
  EXPECT_FALSE(fs::exists(dir_.path() / "x.xml"));
}

TEST_F(ArrayTest, InitTwiceRunsOnce) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  const size_t lines = LogLines().size();
  ComPtr<IQVAUsers> before = Get(array.get(), &IQVAArray::get_Users);
  EXPECT_EQ(array->Init(), S_FALSE);
  EXPECT_EQ(LogLines().size(), lines);
  EXPECT_EQ(Get(array.get(), &IQVAArray::get_Users), before);
}

TEST_F(ArrayTest, UnreachableDatabaseLeavesTheArrayUninitialisedUntilTheNextInit) {
  // A folder where the database file should be: the embedded engine cannot open it.
  fs::create_directory(base_ / "Vodrik_e.ntf");
  auto array = MakeArray();
  EXPECT_EQ(array->Init(), kDatabaseNotOpened);
  std::vector<std::string> messages = LogMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "WARN, Can not connect to database.");
  ComPtr<IQVAUsers> users;
  EXPECT_EQ(array->get_Users(users.put()), E_FAIL);
  ComPtr<IQVADataBase> database;
  EXPECT_EQ(array->get_DataBase(database.put()), S_OK) << "the database object is kept";
  ComPtr<IQVAConfigure> configure;
  EXPECT_EQ(array->get_Configure(configure.put()), S_OK) << "children made before the failure stay";

  fs::remove(base_ / "Vodrik_e.ntf");
  EXPECT_EQ(array->Init(), S_OK);
  messages = LogMessages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "NORMAL, Vodrik server init."), 2);
  EXPECT_EQ(messages.back(), "NORMAL, Vodrik server init finished.");
  EXPECT_EQ(array->get_Users(users.put()), S_OK);
}

TEST_F(ArrayTest, MissingSettingsFileFailsItsStep) {
  fs::remove(base_ / "vodrik_e.xmt");
  auto array = MakeArray();
  EXPECT_EQ(array->Init(), kDocumentFailed);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"NORMAL, Vodrik server init."});
  ComPtr<IUnknown> doc;
  EXPECT_EQ(array->get_XMLDoc(doc.put()), S_OK) << "the document object made before the failure stays";
  ComPtr<IQVAEvents> events;
  EXPECT_EQ(array->get_Events(events.put()), S_OK);
}

TEST_F(ArrayTest, ReadOnlyBaseFolderLosesTheLogAndFailsAtTheSettings) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_EQ(chmod(base_.c_str(), 0555), 0);
  auto array = MakeArray();
  EXPECT_EQ(array->Init(), kDocumentFailed);
  chmod(base_.c_str(), 0755);
  EXPECT_FALSE(fs::exists(base_ / "logs"));
  EXPECT_FALSE(fs::exists(base_ / "vodrik_e.xml"));
  ComPtr<IQVAEvents> events = Get(array.get(), &IQVAArray::get_Events);
  EXPECT_EQ(CountOf(events), 1) << "the lost line still reached the events list";
}

TEST_F(ArrayTest, SaveWritesTheSettingsFileAndReloadRereadsTheSources) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  AddSettings(array.get());
  const std::string settings = ReadFile(base_ / "vodrik_e.xml");
  EXPECT_NE(settings.find("corp.example"), std::string::npos);
  EXPECT_NE(settings.find("fw.example"), std::string::npos);

  // A row written behind the collection's back appears after Reload.
  auto database = Get(array.get(), &IQVAArray::get_DataBase);
  auto deps = Get(array.get(), &IQVAArray::get_Deps);
  ASSERT_EQ(CountOf(deps), 0);
  ASSERT_EQ(database->Execute(Bstr("INSERT INTO Deps (Name) VALUES ('backdoor')").get()), S_OK);
  EXPECT_EQ(array->Reload(), S_OK);
  EXPECT_EQ(CountOf(deps), 1);
}

TEST_F(ArrayTest, ExportThenImportOfTheSameFileChangesNothing) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  AddRows(array.get());
  AddSettings(array.get());

  const std::string data = Export(array.get(), "data.xml");
  EXPECT_EQ(data.find("<Vodrik Version=\"Enterprise 3.8\">"), data.find("<Vodrik"));
  EXPECT_NE(data.find("alice"), std::string::npos);
  ASSERT_EQ(Import(array.get(), data, false), S_OK);
  EXPECT_EQ(Export(array.get(), "data2.xml"), data);
  EXPECT_EQ(CountOf(Get(array.get(), &IQVAArray::get_Users)), 1);

  const std::string config = ExportConfig(array.get(), "config.xml");
  ASSERT_EQ(Import(array.get(), config, true), S_OK);
  EXPECT_EQ(ExportConfig(array.get(), "config2.xml"), config);
  EXPECT_EQ(CountOf(Get(array.get(), &IQVAArray::get_Domains)), 1);
}

TEST_F(ArrayTest, ImportOfAnotherEditionIsRefusedWithNothingLoaded) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  AddRows(array.get());
  AddSettings(array.get());
  std::string data = Export(array.get(), "data.xml");
  std::string config = ExportConfig(array.get(), "config.xml");
  const std::string settings = ReadFile(base_ / "vodrik_e.xml");

  const std::string data_other = Replace(Replace(data, "Enterprise 3.8", "Standard 3.8"), "alice", "mallory");
  EXPECT_EQ(Import(array.get(), data_other, false), E_FAIL);
  EXPECT_EQ(Import(array.get(), Replace(config, "Enterprise 3.8", "Standard 3.8"), true), E_FAIL);
  EXPECT_EQ(Import(array.get(), "<Vodrik/>", false), E_FAIL) << "no Version at all";
  EXPECT_EQ(Import(array.get(), "<Vodrik Version=", true), E_FAIL) << "not a document";
  EXPECT_EQ(array->LoadXML(Bstr((dir_.path() / "absent.xml").string()).get()), E_FAIL);

  EXPECT_EQ(Export(array.get(), "data2.xml"), data);
  EXPECT_EQ(ExportConfig(array.get(), "config2.xml"), config);
  EXPECT_EQ(ReadFile(base_ / "vodrik_e.xml"), settings);
}

TEST_F(ArrayTest, ImportThatFailsHalfWayChangesNothing) {
  {
    auto first = MakeArray();
    ASSERT_EQ(first->Init(), S_OK);
    AddRows(first.get());
    AddSettings(first.get());
  }
  // An array that read everything from the tables and the file: what an undone import re-reads.
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  const std::string data = Export(array.get(), "data.xml");
  const std::string config = ExportConfig(array.get(), "config.xml");
  const std::string settings = ReadFile(base_ / "vodrik_e.xml");

  // The users, computers, departments ... take the file; the protocols find no section of theirs.
  std::string broken = Replace(data, "<Users>", R"(<Users><User Name="mallory"/>)");
  broken = Replace(broken, "<Protocols", "<NoProtocols");
  broken = Replace(broken, "</Protocols>", "</NoProtocols>");
  EXPECT_TRUE(FAILED(Import(array.get(), broken, false)));
  EXPECT_EQ(Export(array.get(), "data2.xml"), data);
  ComPtr<IQVAUsers> users = Get(array.get(), &IQVAArray::get_Users);
  VARIANT_BOOL exists = -1;
  EXPECT_EQ(users->Exists(Bstr("mallory").get(), &exists), S_FALSE);
  // The tables are as they were: read them again.
  ASSERT_EQ(array->Reload(), S_OK);
  EXPECT_EQ(Export(array.get(), "data3.xml"), data);

  // Settings: the domains take the file, the IP list finds no section.
  std::string broken_config = Replace(config, "corp.example", "evil.example");
  broken_config = Replace(broken_config, "<IPs>", "<NoIPs>");
  broken_config = Replace(broken_config, "</IPs>", "</NoIPs>");
  EXPECT_TRUE(FAILED(Import(array.get(), broken_config, true)));
  EXPECT_EQ(ExportConfig(array.get(), "config2.xml"), config);
  EXPECT_EQ(ReadFile(base_ / "vodrik_e.xml"), settings);
  ASSERT_EQ(array->Save(), S_OK);
  EXPECT_EQ(ExportConfig(array.get(), "config3.xml"), config) << "nothing of the import was left in the document";
  for (const auto& entry : fs::directory_iterator(base_))
    EXPECT_FALSE(entry.path().filename().string().starts_with("vodrik_e.xml.")) << entry.path() << " was left behind";
}

TEST_F(ArrayTest, MembersWithoutState) {
  auto array = MakeArray();
  EXPECT_EQ(array->SayHello(), S_OK);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(array->RestartServices(qvaAllServices), S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CQVAArray RestartServices!\n");
  EXPECT_EQ(array->SaveAs(nullptr), S_OK);
  EXPECT_EQ(array->Load(array.get()), S_OK);
}

// ---- the firewall link and the control component, against the doubles ----

class FirewallLinkTest : public ArrayFixture {
 protected:
  void SetUp() override { Prepare(Components::kDoubles); }
  vodrik::testing::DoubleLog& Doubles() { return vodrik::testing::TheDoubleLog(); }
  bool Warned() {
    const auto messages = LogMessages();
    return std::find(messages.begin(), messages.end(), "WARN, Can not connect to Firewall server.") != messages.end();
  }
};

struct EditionCase {
  const char* name;
  LONG code;  // -1: not an edition
};

void PrintTo(const EditionCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class EditionTest : public FirewallLinkTest, public ::testing::WithParamInterface<EditionCase> {};

TEST_P(EditionTest, AsksTheAdapterForTheEditionsCode) {
  const EditionCase& c = GetParam();
  WriteFirewallSettings(c.name);
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  ComPtr<IUnknown> proxy;
  if (c.code < 0) {
    EXPECT_TRUE(Doubles().editions.empty());
    EXPECT_TRUE(Doubles().connects.empty());
    EXPECT_EQ(array->get_Proxy(proxy.put()), E_FAIL);
    EXPECT_EQ(proxy, nullptr);
    EXPECT_TRUE(Warned());
    return;
  }
  EXPECT_EQ(Doubles().editions, std::vector<LONG>{c.code});
  const std::vector<std::vector<std::string>> connects = {{"fw.example", "fwadmin", "CORP", "", "Default policy"}};
  EXPECT_EQ(Doubles().connects, connects);
  EXPECT_EQ(array->get_Proxy(proxy.put()), S_OK);
  EXPECT_NE(proxy, nullptr);
  EXPECT_FALSE(Warned());
}

INSTANTIATE_TEST_SUITE_P(Editions, EditionTest,
                         ::testing::Values(EditionCase{"MS_ISA2000", 0}, EditionCase{"MS_ISA2004(2006)_STANDARD", 1},
                                           EditionCase{"MS_ISA2004(2006)_ENTERPRISE", 2},
                                           EditionCase{"MS_TMG2010_STANDARD", 3},
                                           EditionCase{"MS_TMG2010_ENTERPRISE(EMS)", 4},
                                           EditionCase{"MS_TMG2010_ENTERPRISE(ARRAY)", 3},
                                           EditionCase{"ms_isa2000", -1}, EditionCase{"MS_TMG2010_ENTERPRISE", -1},
                                           EditionCase{" MS_ISA2000", -1},
                                           // The settings object reads an empty name as its default edition.
                                           EditionCase{"", 1}));

TEST_F(FirewallLinkTest, FailedConnectKeepsTheProxyAndWarns) {
  WriteFirewallSettings("MS_ISA2000");
  Doubles().connect_result = E_ACCESSDENIED;
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  EXPECT_TRUE(Warned());
  ComPtr<IUnknown> proxy;
  EXPECT_EQ(array->get_Proxy(proxy.put()), S_OK);
}

TEST_F(FirewallLinkTest, NoProxyFromTheAdapterIsNoLink) {
  WriteFirewallSettings("MS_ISA2000");
  Doubles().null_proxy = true;
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK);
  EXPECT_TRUE(Warned());
  EXPECT_TRUE(Doubles().connects.empty());
  ComPtr<IUnknown> proxy;
  EXPECT_EQ(array->get_Proxy(proxy.put()), E_FAIL);
}

TEST_F(FirewallLinkTest, ControlComponentReceivesTheArrayAndCanBeReplaced) {
  auto array = MakeArray();
  ASSERT_EQ(array->Init(), S_OK) << "the control's failing result is ignored";
  ASSERT_EQ(Doubles().arrays.size(), 1u);
  EXPECT_EQ(Doubles().arrays[0], static_cast<IUnknown*>(array.get()));
  ComPtr<IUnknown> control;
  ASSERT_EQ(array->get_Control(control.put()), S_OK);
  ComPtr<vodrik::IVodrikControl> typed;
  EXPECT_EQ(control.As(&typed), S_OK);

  ComPtr<IUnknown> replacement;
  ASSERT_EQ(array->get_RealTime(reinterpret_cast<IQVARealTime**>(replacement.put())), S_OK);
  EXPECT_EQ(array->put_Control(replacement.get()), S_OK);
  ComPtr<IUnknown> now;
  ASSERT_EQ(array->get_Control(now.put()), S_OK);
  EXPECT_EQ(now, replacement);
  EXPECT_EQ(array->put_Control(nullptr), S_OK);
  EXPECT_EQ(array->get_Control(now.put()), E_FAIL);
}

}  // namespace
}  // namespace qva::testing
