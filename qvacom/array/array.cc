#include "qvacom/array/array.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <system_error>

#include "components/interfaces.h"
#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/objbase.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "qvacom/accounts/users.h"
#include "qvacom/module/class_table.h"
#include "qvacom/module/module.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/events.h"
#include "qvacom/settings/log_dirs.h"

namespace qva {
namespace {

namespace fs = std::filesystem;
using namespace array_code;

constexpr std::string_view kSource = "QVA.Array.1";
constexpr std::string_view kRootElement = "Vodrik";
constexpr std::string_view kExportVersion = "Enterprise 3.8";
constexpr std::string_view kAcceptedVersion = "Enterprise";

// Makes a child of class `clsid` through the library's own class object and asks it for I. A
// class the catalogue does not register (the filter rule set is not creatable from outside) is
// found by its coclass name among the classes this build implements.
template <class I>
com::Expected<com::ComPtr<I>> MakeChild(REFCLSID clsid, std::string_view coclass) {
  com::ComPtr<IClassFactory> factory;
  if (FindClass(clsid)) {
    RETURN_IF_FAILED(TheModule().GetClassObject(clsid, IID_IClassFactory, factory.put_void()));
  } else if (ClassObjectCreator create = ClassObjectCreatorFor(coclass)) {
    RETURN_IF_FAILED(create(IID_IClassFactory, factory.put_void()));
  } else {
    return com::Fail{CLASS_E_CLASSNOTAVAILABLE};
  }
  com::ComPtr<I> child;
  RETURN_IF_FAILED(factory->CreateInstance(nullptr, I::iid, child.put_void()));
  return child;
}

// Makes a child into `slot` (where it stays whatever follows) and runs `init` on it; `code` when
// either fails.
template <class I, class Init>
HRESULT Step(com::ComPtr<I>* slot, REFCLSID clsid, std::string_view coclass, HRESULT code, Init init) {
  auto child = MakeChild<I>(clsid, coclass);
  if (!child) return code;
  *slot = std::move(*child);
  return FAILED(init(slot->get())) ? code : S_OK;
}

// Hands out a child with a reference for the caller; E_FAIL when there is none.
template <class I>
HRESULT Hand(const com::ComPtr<I>& child, I** out, std::string_view what) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!child)
    return com::ReportError(E_FAIL, kSource, "the array has no " + std::string(what) + " (Init has not made it)");
  com::ClearError();
  return child.CopyTo(out);
}

HRESULT NotReady(std::string_view member) {
  return com::ReportError(E_FAIL, kSource, std::string(member) + " needs the children of a completed Init");
}

com::Bstr Text(std::string_view s) { return com::Bstr(s); }

// A BSTR property read through `get`; empty text when it fails.
template <class Get>
com::Bstr Read(Get get) {
  com::Bstr out;
  if (FAILED(get(out.put()))) return com::Bstr(std::string_view());
  return out;
}

// Keeps the calling thread's error information across the clean-up that follows a failure.
class KeptError {
 public:
  KeptError() { GetErrorInfo(0, info_.put()); }
  ~KeptError() { SetErrorInfo(0, info_.get()); }
  KeptError(const KeptError&) = delete;
  KeptError& operator=(const KeptError&) = delete;

 private:
  com::ComPtr<IErrorInfo> info_;
};

// A new DOM document whose document element is <Vodrik Version="Enterprise 3.8">.
com::Expected<dom::Document> NewExportDocument(dom::Node* root) {
  dom::Document document;
  if (FAILED(msxml::CreateDocument(document.put())))
    return com::Fail{com::ReportError(E_FAIL, kSource, "a DOM document cannot be made")};
  com::ComPtr<IXMLDOMNode> as_node;
  RETURN_IF_FAILED(document.As(&as_node));
  ASSIGN_OR_RETURN(*root, dom::AppendElement(document.get(), as_node.get(), "", kRootElement));
  RETURN_IF_FAILED(dom::SetAttribute(root->get(), "Version", kExportVersion));
  return document;
}

HRESULT SaveDocument(IXMLDOMDocument* document, BSTR name) {
  VARIANT destination;
  destination.vt = VT_BSTR;
  destination.bstrVal = name;  // borrowed for the call
  return document->save(destination);
}

// Loads the export file `name` and applies the version test: the document element's "Version"
// must contain "Enterprise". E_FAIL (with error information) otherwise.
com::Expected<dom::Document> LoadExportDocument(BSTR name) {
  dom::Document document;
  if (FAILED(msxml::CreateDocument(document.put())))
    return com::Fail{com::ReportError(E_FAIL, kSource, "a DOM document cannot be made")};
  VARIANT source;
  source.vt = VT_BSTR;
  source.bstrVal = name;  // borrowed for the call
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = document->load(source, &loaded);
  if (FAILED(hr) || loaded != VARIANT_TRUE)
    return com::Fail{com::ReportError(E_FAIL, kSource, "cannot load \"" + com::BstrToUtf8(name) + "\"")};
  auto root = dom::Root(document.get());
  if (!root) return com::Fail{com::ReportError(E_FAIL, kSource, "the file has no document element")};
  auto version = dom::Attribute(root->get(), "Version");
  if (!version || !*version || (*version)->utf8().find(kAcceptedVersion) == std::string::npos)
    return com::Fail{com::ReportError(E_FAIL, kSource, "the file is not of the Enterprise edition")};
  return document;
}

// The firewall edition code of a settings edition name (exact, case-sensitive).
std::optional<LONG> EditionCode(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    LONG code;
  } kEditions[] = {
      {"MS_ISA2000", vodrik::kIsa2000},
      {"MS_ISA2004(2006)_STANDARD", vodrik::kIsa2004Standard},
      {"MS_ISA2004(2006)_ENTERPRISE", vodrik::kIsa2004Enterprise},
      {"MS_TMG2010_STANDARD", vodrik::kTmg2010Standard},
      {"MS_TMG2010_ENTERPRISE(EMS)", vodrik::kTmg2010EnterpriseEms},
      {"MS_TMG2010_ENTERPRISE(ARRAY)", vodrik::kTmg2010Standard},
  };
  for (const auto& e : kEditions)
    if (e.name == name) return e.code;
  return std::nullopt;
}

// The console tone generator, when this process may drive it (a service on a machine with a
// PC speaker, run with the rights to the console). Elsewhere there is no beeper to sound.
void Beep(int hertz, int milliseconds) {
  const int fd = ::open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  constexpr int kTimerHz = 1193180;  // the PC timer's clock
  ::ioctl(fd, KDMKTONE, (milliseconds << 16) | (kTimerHz / hertz));
  ::close(fd);
}

}  // namespace

std::string BaseFolder() {
  if (const char* env = std::getenv(kBaseFolderVariable); env && *env) {
    std::string folder = env;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const std::string full = exe.string();
  return full.substr(0, full.find_last_of('/'));
}

bool CopyIfAbsent(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (fs::exists(to, ec)) return true;
  std::string temp = to.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  ::close(fd);
  // link() never replaces: a file that appeared meanwhile (EEXIST) is kept, and counts as there.
  if (fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) ::link(temp.c_str(), to.c_str());
  ::unlink(temp.c_str());
  return fs::exists(to, ec);
}

bool CQVAArray::Log(std::string_view message, LogLevel level) {
  ServerLog log(base_folder_, [this](DATE when, std::string_view text, int type) {
    if (events_) events_->Add(when, Text(text).get(), type);
  });
  return log.Write(message, static_cast<int>(level));
}

HRESULT CQVAArray::SayHello() {
  Beep(100, 100);
  return S_OK;
}

HRESULT CQVAArray::RestartServices(QvaServices) {
  std::fputs("CQVAArray RestartServices!\n", stdout);
  std::fflush(stdout);
  return S_OK;
}

HRESULT CQVAArray::Init() {
  base_folder_ = BaseFolder();
  if (initialised_) return S_FALSE;

  std::error_code ec;
  fs::create_directories(File("logs"), ec);  // a folder that cannot be made loses the log lines
  {
    auto events = com::CreateObject<CQVAEvents>();
    if (!events) return kEventsCreate;
    if (FAILED(events->As(&events_))) return kEventsInterface;
  }
  Log("Vodrik server init.", LogLevel::kNormal);

  RETURN_IF_FAILED(InitSettings());
  RETURN_IF_FAILED(Step(&real_time_, CLSID_QVARealTime, "QVARealTime", kRealTime, [](IQVARealTime*) { return S_OK; }));

  com::ComPtr<vodrik::IVodrikControl> control;
  if (FAILED(CoCreateInstance(vodrik::kControlClsid, nullptr, CLSCTX_INPROC_SERVER, vodrik::IID_IVodrikControl,
                              control.put_void())))
    return kControl;
  control_ = com::ComPtr<IUnknown>(control.get());
  control->SetArray(static_cast<IQVAArray*>(this));

  if (LinkFirewall() != S_OK) Log("Can not connect to Firewall server.", LogLevel::kWarn);
  if (LinkDatabase() != S_OK) {
    Log("Can not connect to database.", LogLevel::kWarn);
    return kDatabaseNotOpened;
  }
  RETURN_IF_FAILED(InitDatabaseCollections());

  initialised_ = true;
  Log("Vodrik server init finished.", LogLevel::kNormal);
  com::ClearError();
  return S_OK;
}

namespace {

// Step for a class the library does not serve through a class object (the users, log folders
// and events collections are made only by the array): made directly.
template <class C, class I, class Init>
HRESULT DirectStep(com::ComPtr<I>* slot, HRESULT code, Init init) {
  auto made = com::CreateObject<C>();
  if (!made) return code;
  com::ComPtr<I> child;
  if (FAILED(made->As(&child))) return code;
  *slot = std::move(child);
  return FAILED(init(slot->get())) ? code : S_OK;
}

}  // namespace

HRESULT CQVAArray::InitSettings() {
  const fs::path settings_file = File("vodrik_e.xml");
  CopyIfAbsent(File("vodrik_e.xmt"), settings_file);  // a missing template fails the Open below
  const com::Bstr settings_name(settings_file.string());
  const com::Bstr base(base_folder_);
  RETURN_IF_FAILED(Step(&document_, CLSID_QVAXMLDoc, "QVAXMLDoc", kDocument,
                        [&](IQVAXMLDoc* d) { return d->Open(settings_name.get()); }));
  IQVAXMLDoc* doc = document_.get();
  RETURN_IF_FAILED(DirectStep<CQVALogDirs>(&log_dirs_, kLogDirs, [&](IQVALogDirs* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(Step(&ips_, CLSID_QVAIPs, "QVAIPs", kIPs, [&](IQVAIPs* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(Step(&element_set_, CLSID_QVAElementSet, "QVAElementSet", kElementSet,
                        [&](IQVAElementSet* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(Step(&filter_rule_set_, CLSID_QVAFilterRuleSet, "QVAFilterRuleSet", kFilterRuleSet,
                        [&](IQVAFilterRuleSet* c) { return c->Init(doc, element_set_.get()); }));
  RETURN_IF_FAILED(Step(&discount_times_, CLSID_QVADiscountTimes, "QVADiscountTimes", kDiscountTimes,
                        [&](IQVADiscountTimes* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(
      Step(&domains_, CLSID_QVADomains, "QVADomains", kDomains, [&](IQVADomains* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(
      Step(&backups_, CLSID_QVABackups, "QVABackups", kBackups, [&](IQVABackups* c) { return c->Init(base.get()); }));
  RETURN_IF_FAILED(
      Step(&archs_, CLSID_QVAArchs, "QVAArchs", kArchs, [&](IQVAArchs* c) { return c->Init(base.get()); }));
  RETURN_IF_FAILED(Step(&report_tasks_, CLSID_QVAReportTasks, "QVAReportTasks", kReportTasks,
                        [&](IQVAReportTasks* c) { return c->Init(doc); }));
  RETURN_IF_FAILED(Step(&configure_, CLSID_QVAConfigure, "QVAConfigure", kConfigure, [&](IQVAConfigure* c) {
    const HRESULT hr = c->put_CurDir(base.get());
    return FAILED(hr) ? hr : c->Init(doc);
  }));
  configure_->Save();  // writes the document as read back; a read-only folder is no failure here
  return S_OK;
}

HRESULT CQVAArray::LinkFirewall() {
  proxy_ = nullptr;
  IQVAConfigure* c = configure_.get();
  const com::Bstr edition = Read([c](BSTR* v) { return c->get_ServerType(v); });
  const com::Bstr server = Read([c](BSTR* v) { return c->get_FirewallServer(v); });
  const com::Bstr admin = Read([c](BSTR* v) { return c->get_FirewallAdmin(v); });
  const com::Bstr domain = Read([c](BSTR* v) { return c->get_FirewallDomain(v); });
  const com::Bstr password = Read([c](BSTR* v) { return c->get_FirewallPassword(v); });
  const com::Bstr policy = Read([c](BSTR* v) { return c->get_FirewallPolicy(v); });

  com::ComPtr<vodrik::IVodrikFirewallAdapter> adapter;
  if (FAILED(CoCreateInstance(vodrik::kFirewallAdapterClsid, nullptr, CLSCTX_INPROC_SERVER,
                              vodrik::IID_IVodrikFirewallAdapter, adapter.put_void())))
    return kFirewallNotLinked;
  const std::optional<LONG> code = EditionCode(edition.utf8());
  if (!code) return kFirewallNotLinked;
  com::ComPtr<vodrik::IVodrikFirewallProxy> proxy;
  if (FAILED(adapter->CreateProxy(*code, proxy.put())) || !proxy) return kFirewallNotLinked;
  proxy_ = com::ComPtr<IUnknown>(proxy.get());
  if (FAILED(proxy->Connect(server.get(), admin.get(), domain.get(), password.get(), policy.get())))
    return kFirewallNotLinked;
  return S_OK;
}

HRESULT CQVAArray::LinkDatabase() {
  IQVAConfigure* c = configure_.get();
  LONG type = 0, admin_type = 0;
  c->get_DataBaseType(&type);
  c->get_DataBaseAdminType(&admin_type);
  const com::Bstr server = Read([c](BSTR* v) { return c->get_DataBaseServer(v); });
  com::Bstr login = Read([c](BSTR* v) { return c->get_DataBaseAdmin(v); });
  com::Bstr password = Read([c](BSTR* v) { return c->get_DataBasePassword(v); });

  auto made = MakeChild<IQVADataBase>(CLSID_QVADataBase, "QVADataBase");
  if (!made) return kDatabaseNotOpened;
  database_ = std::move(*made);

  HRESULT hr = S_OK;
  switch (type) {
    case 0: {
      const fs::path file = File("Vodrik_e.ntf");
      CopyIfAbsent(File("Vodrik.ntt"), file);
      hr = database_->OpenAccess(com::Bstr(file.string()).get());
      break;
    }
    case 1: {
      const fs::path data = File("Vodrik_e.mdf"), log = File("Vodrik_e.ldf");
      std::error_code ec;
      if (!fs::exists(data, ec)) {
        CopyIfAbsent(File("Vodrik.mdt"), data);
        CopyIfAbsent(File("Vodrik.ldt"), log);
      }
      hr = database_->OpenSqlExpress(Text("vodrik").get(), com::Bstr(data.string()).get(),
                                     com::Bstr(log.string()).get(), VARIANT_TRUE);
      break;
    }
    case 2:
      // A login is sent only with SQL Server authentication (1); otherwise the server's own.
      if (admin_type != 1) {
        login = Text("");
        password = Text("");
      }
      hr = database_->OpenSqlserver(server.get(), login.get(), password.get());
      break;
    default:
      break;  // no database of this type: nothing to open
  }
  return FAILED(hr) ? kDatabaseNotOpened : S_OK;
}

HRESULT CQVAArray::InitDatabaseCollections() {
  IQVADataBase* db = database_.get();
  auto by_db = [db](auto* c) { return c->Init(db); };
  RETURN_IF_FAILED(DirectStep<CQVAUsers>(&users_, kUsers, by_db));
  RETURN_IF_FAILED(Step(&deps_, CLSID_QVADeps, "QVADeps", kDeps, by_db));
  RETURN_IF_FAILED(Step(&computers_, CLSID_QVAComputers, "QVAComputers", kComputers, by_db));
  RETURN_IF_FAILED(Step(&groups_, CLSID_QVAGroups, "QVAGroups", kGroups, by_db));
  RETURN_IF_FAILED(Step(&applications_, CLSID_QVAApplications, "QVAApplications", kApplications, by_db));
  RETURN_IF_FAILED(Step(&destaddrs_, CLSID_QVADestaddrs, "QVADestaddrs", array_code::kNamedSets, by_db));
  RETURN_IF_FAILED(Step(&categories_, CLSID_QVACategories, "QVACategories", array_code::kNamedSets, by_db));
  RETURN_IF_FAILED(Step(&rules_, CLSID_QVARules, "QVARules", array_code::kNamedSets, by_db));
  RETURN_IF_FAILED(Step(&threats_, CLSID_QVAThreats, "QVAThreats", array_code::kNamedSets, by_db));
  RETURN_IF_FAILED(Step(&signatures_, CLSID_QVASignatures, "QVASignatures", array_code::kNamedSets, by_db));
  RETURN_IF_FAILED(Step(&filetypes_, CLSID_QVAFiletypes, "QVAFiletypes", kFiletypes, by_db));
  RETURN_IF_FAILED(Step(&ports_, CLSID_QVAPorts, "QVAPorts", kPorts, by_db));
  RETURN_IF_FAILED(Step(&protocols_, CLSID_QVAProtocols, "QVAProtocols", kProtocols, by_db));
  RETURN_IF_FAILED(Step(&limit_ips_, CLSID_QVALimitIPs, "QVALimitIPs", kLimitIPs, by_db));
  struct FeeStep {
    com::ComPtr<IQVAFees>* slot;
    QvaFeeType type;
    HRESULT code;
  };
  const FeeStep fees[] = {{&user_fees_, qvaUserFee, kUserFees},
                          {&dep_fees_, qvaDepFee, kDepFees},
                          {&computer_fees_, qvaComputerFee, kComputerFees},
                          {&group_fees_, qvaGroupFee, kGroupFees}};
  for (const FeeStep& f : fees)
    RETURN_IF_FAILED(Step(f.slot, CLSID_QVAFees, "QVAFees", f.code, [&](IQVAFees* c) { return c->Init(f.type, db); }));
  return S_OK;
}

// ---- children ----

HRESULT CQVAArray::get_Users(IQVAUsers** pVal) { return Hand(users_, pVal, "users"); }
HRESULT CQVAArray::get_LogDirs(IQVALogDirs** pVal) { return Hand(log_dirs_, pVal, "log folders"); }
HRESULT CQVAArray::get_Control(IUnknown** pVal) { return Hand(control_, pVal, "control component"); }
HRESULT CQVAArray::put_Control(IUnknown* newVal) {
  control_ = com::ComPtr<IUnknown>(newVal);
  return S_OK;
}
HRESULT CQVAArray::get_FilterRuleSet(IQVAFilterRuleSet** pVal) { return Hand(filter_rule_set_, pVal, "filter rules"); }
HRESULT CQVAArray::get_RealTime(IQVARealTime** pVal) { return Hand(real_time_, pVal, "real-time root"); }
HRESULT CQVAArray::get_DataBase(IQVADataBase** pVal) { return Hand(database_, pVal, "database object"); }
HRESULT CQVAArray::get_Deps(IQVADeps** pVal) { return Hand(deps_, pVal, "departments"); }
HRESULT CQVAArray::get_Computers(IQVAComputers** pVal) { return Hand(computers_, pVal, "computers"); }
HRESULT CQVAArray::get_Groups(IQVAGroups** pVal) { return Hand(groups_, pVal, "groups"); }
HRESULT CQVAArray::get_Applications(IQVAApplications** pVal) { return Hand(applications_, pVal, "applications"); }
HRESULT CQVAArray::get_Destaddrs(IQVADestaddrs** pVal) { return Hand(destaddrs_, pVal, "destination addresses"); }
HRESULT CQVAArray::get_Filetypes(IQVAFiletypes** pVal) { return Hand(filetypes_, pVal, "file types"); }
HRESULT CQVAArray::get_Ports(IQVAPorts** pVal) { return Hand(ports_, pVal, "ports"); }
HRESULT CQVAArray::get_Protocols(IQVAProtocols** pVal) { return Hand(protocols_, pVal, "protocols"); }
HRESULT CQVAArray::get_Proxy(IUnknown** pVal) { return Hand(proxy_, pVal, "firewall proxy"); }
HRESULT CQVAArray::get_LimitIPs(IQVALimitIPs** pVal) { return Hand(limit_ips_, pVal, "limit IP ranges"); }
HRESULT CQVAArray::get_UserFees(IQVAFees** pVal) { return Hand(user_fees_, pVal, "user fees"); }
HRESULT CQVAArray::get_DepFees(IQVAFees** pVal) { return Hand(dep_fees_, pVal, "department fees"); }
HRESULT CQVAArray::get_ComputerFees(IQVAFees** pVal) { return Hand(computer_fees_, pVal, "computer fees"); }
HRESULT CQVAArray::get_GroupFees(IQVAFees** pVal) { return Hand(group_fees_, pVal, "group fees"); }
HRESULT CQVAArray::get_XMLDoc(IUnknown** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!document_) return com::ReportError(E_FAIL, kSource, "the array has no settings document (Init has not made it)");
  com::ClearError();
  return document_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pVal));
}
HRESULT CQVAArray::get_ElementSet(IQVAElementSet** pVal) { return Hand(element_set_, pVal, "element set"); }
HRESULT CQVAArray::get_Domains(IQVADomains** pVal) { return Hand(domains_, pVal, "domains"); }
HRESULT CQVAArray::get_DiscountTimes(IQVADiscountTimes** pVal) { return Hand(discount_times_, pVal, "discount times"); }
HRESULT CQVAArray::get_Configure(IQVAConfigure** pVal) { return Hand(configure_, pVal, "settings object"); }
HRESULT CQVAArray::get_Backups(IQVABackups** pVal) { return Hand(backups_, pVal, "backups"); }
HRESULT CQVAArray::get_Archs(IQVAArchs** pVal) { return Hand(archs_, pVal, "archives"); }
HRESULT CQVAArray::get_ReportTasks(IQVAReportTasks** pVal) { return Hand(report_tasks_, pVal, "report tasks"); }
HRESULT CQVAArray::get_Events(IQVAEvents** pVal) { return Hand(events_, pVal, "events"); }
HRESULT CQVAArray::get_IPs(IQVAIPs** pVal) { return Hand(ips_, pVal, "IP list"); }
HRESULT CQVAArray::get_Categories(IQVACategories** pVal) { return Hand(categories_, pVal, "categories"); }
HRESULT CQVAArray::get_Rules(IQVARules** pVal) { return Hand(rules_, pVal, "rules"); }
HRESULT CQVAArray::get_Threats(IQVAThreats** pVal) { return Hand(threats_, pVal, "threats"); }
HRESULT CQVAArray::get_Signatures(IQVASignatures** pVal) { return Hand(signatures_, pVal, "signatures"); }

HRESULT CQVAArray::SaveAs(IUnknown*) { return S_OK; }
HRESULT CQVAArray::Load(IUnknown*) { return S_OK; }

// ---- saving and reloading ----

namespace {

template <class I>
std::function<HRESULT(IUnknown*, bool)> XmlOf(I* child) {
  return [child](IUnknown* document, bool load) { return load ? child->LoadXML(document) : child->SaveXML(document); };
}

}  // namespace

std::optional<std::vector<CQVAArray::Exchange>> CQVAArray::DataChildren() {
  if (!users_ || !computers_ || !deps_ || !groups_ || !limit_ips_ || !applications_ || !destaddrs_ || !categories_ ||
      !rules_ || !threats_ || !signatures_ || !filetypes_ || !ports_ || !protocols_ || !user_fees_ || !dep_fees_ ||
      !computer_fees_ || !group_fees_ || !database_)
    return std::nullopt;
  IQVADataBase* db = database_.get();
  auto plain = [db](auto* child) { return Exchange{XmlOf(child), [child, db] { return child->Init(db); }}; };
  auto fees = [db](IQVAFees* child, QvaFeeType type) {
    return Exchange{XmlOf(child), [child, type, db] { return child->Init(type, db); }};
  };
  return std::vector<Exchange>{
      plain(users_.get()),
      plain(computers_.get()),
      plain(deps_.get()),
      plain(groups_.get()),
      plain(limit_ips_.get()),
      plain(applications_.get()),
      plain(destaddrs_.get()),
      plain(categories_.get()),
      plain(rules_.get()),
      plain(threats_.get()),
      plain(signatures_.get()),
      plain(filetypes_.get()),
      plain(ports_.get()),
      plain(protocols_.get()),
      fees(user_fees_.get(), qvaUserFee),
      fees(dep_fees_.get(), qvaDepFee),
      fees(computer_fees_.get(), qvaComputerFee),
      fees(group_fees_.get(), qvaGroupFee),
  };
}

std::optional<std::vector<CQVAArray::Exchange>> CQVAArray::SettingsChildren() {
  if (!document_ || !configure_ || !filter_rule_set_ || !element_set_ || !log_dirs_ || !domains_ || !discount_times_ ||
      !report_tasks_ || !ips_)
    return std::nullopt;
  // Settings objects are read again all together (RestoreSettings), not one by one.
  return std::vector<Exchange>{
      {XmlOf(configure_.get()), nullptr},    {XmlOf(filter_rule_set_.get()), nullptr},
      {XmlOf(element_set_.get()), nullptr},  {XmlOf(log_dirs_.get()), nullptr},
      {XmlOf(domains_.get()), nullptr},      {XmlOf(discount_times_.get()), nullptr},
      {XmlOf(report_tasks_.get()), nullptr}, {XmlOf(ips_.get()), nullptr},
  };
}

HRESULT CQVAArray::Save() {
  if (!SettingsChildren()) return NotReady("Save");
  RETURN_IF_FAILED(configure_->Save());
  RETURN_IF_FAILED(filter_rule_set_->Save());
  RETURN_IF_FAILED(element_set_->Save());
  RETURN_IF_FAILED(log_dirs_->Save());
  RETURN_IF_FAILED(domains_->Save());
  RETURN_IF_FAILED(discount_times_->Save());
  RETURN_IF_FAILED(report_tasks_->Save());
  RETURN_IF_FAILED(ips_->Save());
  return S_OK;
}

HRESULT CQVAArray::Reload() {
  if (!DataChildren() || !SettingsChildren() || !backups_) return NotReady("Reload");
  IQVADataBase* db = database_.get();
  IQVAXMLDoc* doc = document_.get();
  const com::Bstr base(base_folder_);
  RETURN_IF_FAILED(users_->Init(db));
  RETURN_IF_FAILED(deps_->Init(db));
  RETURN_IF_FAILED(computers_->Init(db));
  RETURN_IF_FAILED(groups_->Init(db));
  RETURN_IF_FAILED(backups_->Init(base.get()));
  RETURN_IF_FAILED(domains_->Init(doc));
  RETURN_IF_FAILED(discount_times_->Init(doc));
  RETURN_IF_FAILED(user_fees_->Init(qvaUserFee, db));
  RETURN_IF_FAILED(dep_fees_->Init(qvaDepFee, db));
  RETURN_IF_FAILED(computer_fees_->Init(qvaComputerFee, db));
  RETURN_IF_FAILED(group_fees_->Init(qvaGroupFee, db));
  RETURN_IF_FAILED(limit_ips_->Init(db));
  RETURN_IF_FAILED(protocols_->Init(db));
  RETURN_IF_FAILED(ports_->Init(db));
  RETURN_IF_FAILED(filetypes_->Init(db));
  RETURN_IF_FAILED(destaddrs_->Init(db));
  RETURN_IF_FAILED(categories_->Init(db));
  RETURN_IF_FAILED(rules_->Init(db));
  RETURN_IF_FAILED(threats_->Init(db));
  RETURN_IF_FAILED(signatures_->Init(db));
  RETURN_IF_FAILED(applications_->Init(db));
  RETURN_IF_FAILED(log_dirs_->Init(doc));
  RETURN_IF_FAILED(element_set_->Init(doc));
  RETURN_IF_FAILED(filter_rule_set_->Init(doc, element_set_.get()));
  RETURN_IF_FAILED(configure_->Init(doc));
  return S_OK;
}

// ---- export and import ----

HRESULT CQVAArray::SaveXML(BSTR Name) {
  auto children = DataChildren();
  if (!children) return NotReady("SaveXML");
  dom::Node root;
  ASSIGN_OR_RETURN(dom::Document document, NewExportDocument(&root));
  for (const Exchange& child : *children) RETURN_IF_FAILED(child.xml(document.get(), false));
  RETURN_IF_FAILED(dom::AppendText(document.get(), root.get(), "\n"));
  return SaveDocument(document.get(), Name);
}

HRESULT CQVAArray::LoadXML(BSTR Name) {
  auto children = DataChildren();
  if (!children) return NotReady("LoadXML");
  ASSIGN_OR_RETURN(dom::Document document, LoadExportDocument(Name));

  // Each collection's own import opens a transaction inside this one; a rollback anywhere undoes
  // them all, so the tables are as they were whatever fails.
  RETURN_IF_FAILED(database_->Execute(Text("BEGIN TRANSACTION").get()));
  size_t done = 0;
  HRESULT hr = S_OK;
  for (; done < children->size(); ++done)
    if (FAILED(hr = (*children)[done].xml(document.get(), true))) break;
  if (SUCCEEDED(hr)) hr = database_->Execute(Text("COMMIT").get());
  if (SUCCEEDED(hr)) {
    com::ClearError();
    return S_OK;
  }
  KeptError why;
  // The failing collection kept its items; those before it hold the file's items and are read
  // again from the rolled-back tables. A ROLLBACK after an inner one has ended the transaction
  // finds none open and fails harmlessly.
  database_->Execute(Text("ROLLBACK").get());
  for (size_t i = 0; i < done && i < children->size(); ++i) (*children)[i].reread();
  return hr;
}

HRESULT CQVAArray::SaveConfigXML(BSTR Name) {
  auto children = SettingsChildren();
  if (!children) return NotReady("SaveConfigXML");
  dom::Node root;
  ASSIGN_OR_RETURN(dom::Document document, NewExportDocument(&root));
  for (const Exchange& child : *children) RETURN_IF_FAILED(child.xml(document.get(), false));
  return SaveDocument(document.get(), Name);
}

namespace {

// A copy of the settings document in a temporary file beside the settings file (it holds what
// the settings file holds, passwords included, so it stays where that file is), removed with the
// object.
class SettingsCopy {
 public:
  SettingsCopy(IQVAXMLDoc* document, const fs::path& folder) {
    std::string pattern = (folder / "vodrik_e.xml.import-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return;
    ::close(fd);
    path_ = pattern;
    ok_ = SUCCEEDED(document->SaveAs(com::Bstr(path_.string()).get()));
  }
  ~SettingsCopy() {
    std::error_code ec;
    if (!path_.empty()) fs::remove(path_, ec);
  }
  SettingsCopy(const SettingsCopy&) = delete;
  SettingsCopy& operator=(const SettingsCopy&) = delete;
  bool ok() const { return ok_; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  bool ok_ = false;
};

}  // namespace

HRESULT CQVAArray::TrialSettingsImport(IUnknown* document, const fs::path& copy) {
  // Fresh objects on a wrapper of their own: the live ones and the live document stay untouched.
  ASSIGN_OR_RETURN(com::ComPtr<IQVAXMLDoc> wrapper, MakeChild<IQVAXMLDoc>(CLSID_QVAXMLDoc, "QVAXMLDoc"));
  RETURN_IF_FAILED(wrapper->Open(com::Bstr(copy.string()).get()));
  IQVAXMLDoc* doc = wrapper.get();
  ASSIGN_OR_RETURN(auto configure, MakeChild<IQVAConfigure>(CLSID_QVAConfigure, "QVAConfigure"));
  ASSIGN_OR_RETURN(auto element_set, MakeChild<IQVAElementSet>(CLSID_QVAElementSet, "QVAElementSet"));
  ASSIGN_OR_RETURN(auto filter_rule_set, MakeChild<IQVAFilterRuleSet>(CLSID_QVAFilterRuleSet, "QVAFilterRuleSet"));
  ASSIGN_OR_RETURN(auto domains, MakeChild<IQVADomains>(CLSID_QVADomains, "QVADomains"));
  ASSIGN_OR_RETURN(auto discount_times, MakeChild<IQVADiscountTimes>(CLSID_QVADiscountTimes, "QVADiscountTimes"));
  ASSIGN_OR_RETURN(auto report_tasks, MakeChild<IQVAReportTasks>(CLSID_QVAReportTasks, "QVAReportTasks"));
  ASSIGN_OR_RETURN(auto ips, MakeChild<IQVAIPs>(CLSID_QVAIPs, "QVAIPs"));
  ASSIGN_OR_RETURN(auto log_dirs_object, com::CreateObject<CQVALogDirs>());
  com::ComPtr<IQVALogDirs> log_dirs;
  RETURN_IF_FAILED(log_dirs_object.As(&log_dirs));

  const com::Bstr base(base_folder_);
  RETURN_IF_FAILED(configure->put_CurDir(base.get()));
  RETURN_IF_FAILED(configure->Init(doc));
  RETURN_IF_FAILED(element_set->Init(doc));
  RETURN_IF_FAILED(filter_rule_set->Init(doc, element_set.get()));
  RETURN_IF_FAILED(log_dirs->Init(doc));
  RETURN_IF_FAILED(domains->Init(doc));
  RETURN_IF_FAILED(discount_times->Init(doc));
  RETURN_IF_FAILED(report_tasks->Init(doc));
  RETURN_IF_FAILED(ips->Init(doc));

  RETURN_IF_FAILED(configure->LoadXML(document));
  RETURN_IF_FAILED(filter_rule_set->LoadXML(document));
  RETURN_IF_FAILED(element_set->LoadXML(document));
  RETURN_IF_FAILED(log_dirs->LoadXML(document));
  RETURN_IF_FAILED(domains->LoadXML(document));
  RETURN_IF_FAILED(discount_times->LoadXML(document));
  RETURN_IF_FAILED(report_tasks->LoadXML(document));
  RETURN_IF_FAILED(ips->LoadXML(document));
  return S_OK;
}

void CQVAArray::RestoreSettings(const fs::path& saved) {
  IQVAXMLDoc* doc = document_.get();
  doc->Load(com::Bstr(saved.string()).get());
  configure_->Init(doc);
  element_set_->Init(doc);
  filter_rule_set_->Init(doc, element_set_.get());
  log_dirs_->Init(doc);
  domains_->Init(doc);
  discount_times_->Init(doc);
  report_tasks_->Init(doc);
  ips_->Init(doc);
}

HRESULT CQVAArray::LoadConfigXML(BSTR Name) {
  auto children = SettingsChildren();
  if (!children) return NotReady("LoadConfigXML");
  ASSIGN_OR_RETURN(dom::Document document, LoadExportDocument(Name));
  const SettingsCopy copy(document_.get(), base_folder_);
  if (!copy.ok()) return com::ReportError(E_FAIL, kSource, "the settings document cannot be copied aside");
  RETURN_IF_FAILED(TrialSettingsImport(document.get(), copy.path()));

  for (const Exchange& child : *children) {
    const HRESULT hr = child.xml(document.get(), true);
    if (FAILED(hr)) {
      KeptError why;
      RestoreSettings(copy.path());
      return hr;
    }
  }
  com::ClearError();
  return S_OK;
}

}  // namespace qva
