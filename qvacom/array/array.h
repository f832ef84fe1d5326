// The array object: the root of the whole configuration. It owns one object of every kind the
// system has (the settings document and the objects read from it, the database object and every
// collection read from it, the real-time root, the events list, the firewall proxy and the
// control component), builds them in a fixed order in Init, and drives saving, reloading and the
// XML export and import.
//
// Base folder: the folder of the host process's executable, or $QVA_BASE_FOLDER when that is set
// and not empty (tests and packaged services point it elsewhere). Every file of the system lives
// in it or below it.
//
// Init's step codes, its log lines and its order are the product's (see Init below). Children
// are made through the library's own class objects, so the array builds against the class table
// as it stands: a class not yet in it fails its step with the step's code.
//
// Departures from the old behaviour, each for a fault it had:
// - Save, Reload and the four XML members check for the children they use and fail with E_FAIL
//   (and error information) instead of calling through null pointers.
// - LoadXML imports the whole file or changes nothing: the database collections load inside one
//   transaction; when one fails, the transaction is rolled back and the collections that had
//   already taken the file are read again from the database.
// - LoadConfigXML likewise: the file is first imported into fresh settings objects bound to a
//   copy of the settings document, so a faulty file is refused before any live object changes;
//   only then do the live objects import it. Should the live import still fail (a resource
//   failure: it read the same file moments before), the settings document is restored from the
//   copy and every settings object is read again from it.
// - Copies of the templates go through a temporary file and a link, so a crash never leaves a
//   half-copied settings or database file, and an existing file is never overwritten.
//
// Single-threaded apartment object: called on its creator's thread only; no locks.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/frame/server_log.h"
#include "qvacom_idl.h"

namespace qva {

// Init's step codes.
namespace array_code {
inline constexpr HRESULT kDocument = static_cast<HRESULT>(0xC0040300);
inline constexpr HRESULT kUsers = static_cast<HRESULT>(0xC0040302);
inline constexpr HRESULT kLogDirs = static_cast<HRESULT>(0xC0040303);
inline constexpr HRESULT kFilterRuleSet = static_cast<HRESULT>(0xC0040304);
inline constexpr HRESULT kRealTime = static_cast<HRESULT>(0xC0040305);
inline constexpr HRESULT kControl = static_cast<HRESULT>(0xC0040306);
inline constexpr HRESULT kDeps = static_cast<HRESULT>(0xC0040307);
inline constexpr HRESULT kComputers = static_cast<HRESULT>(0xC004030A);
inline constexpr HRESULT kGroups = static_cast<HRESULT>(0xC004030B);
inline constexpr HRESULT kApplications = static_cast<HRESULT>(0xC004030C);
inline constexpr HRESULT kNamedSets = static_cast<HRESULT>(0xC004030D);  // destaddrs ... signatures
inline constexpr HRESULT kFiletypes = static_cast<HRESULT>(0xC004030E);
inline constexpr HRESULT kPorts = static_cast<HRESULT>(0xC004030F);
inline constexpr HRESULT kProtocols = static_cast<HRESULT>(0xC0040310);
inline constexpr HRESULT kLimitIPs = static_cast<HRESULT>(0xC004031F);
inline constexpr HRESULT kUserFees = static_cast<HRESULT>(0xC0040320);
inline constexpr HRESULT kConfigure = static_cast<HRESULT>(0xC0040321);
inline constexpr HRESULT kDepFees = static_cast<HRESULT>(0xC0040322);
inline constexpr HRESULT kComputerFees = static_cast<HRESULT>(0xC0040323);
inline constexpr HRESULT kGroupFees = static_cast<HRESULT>(0xC0040324);
inline constexpr HRESULT kDiscountTimes = static_cast<HRESULT>(0xC0040325);
inline constexpr HRESULT kElementSet = static_cast<HRESULT>(0xC0040326);
inline constexpr HRESULT kDomains = static_cast<HRESULT>(0xC0040327);
inline constexpr HRESULT kBackups = static_cast<HRESULT>(0xC004032D);
inline constexpr HRESULT kArchs = static_cast<HRESULT>(0xC004032E);
inline constexpr HRESULT kEventsCreate = static_cast<HRESULT>(0xC004032F);  // also the report tasks
inline constexpr HRESULT kReportTasks = static_cast<HRESULT>(0xC004032F);
inline constexpr HRESULT kEventsInterface = static_cast<HRESULT>(0xC0040330);
inline constexpr HRESULT kIPs = static_cast<HRESULT>(0xC0040331);
// Success codes: the array stays uninitialised (database) or starts without a firewall link.
inline constexpr HRESULT kDatabaseNotOpened = static_cast<HRESULT>(0x00040203);
inline constexpr HRESULT kFirewallNotLinked = static_cast<HRESULT>(0x00040204);
}  // namespace array_code

// The environment variable that overrides the base folder.
inline constexpr const char* kBaseFolderVariable = "QVA_BASE_FOLDER";

// $QVA_BASE_FOLDER when set and not empty (trailing separators dropped), else the folder of the
// running executable. Empty when neither can be found.
std::string BaseFolder();

// Copies `from` to `to` unless `to` exists; true when `to` exists afterwards. The copy is written
// to a temporary file beside `to` and linked into place, so `to` is never seen half written and
// an existing `to` is never replaced, even by a racing copier.
bool CopyIfAbsent(const std::filesystem::path& from, const std::filesystem::path& to);

class CQVAArray : public com::Dispatch<IQVAArray> {
 public:
  QVA_DECL_IQVAArray;

 private:
  // One child of an export or import: its SaveXML or LoadXML, and how it is read again from its
  // source (database or settings document) when an import is undone.
  struct Exchange {
    std::function<HRESULT(IUnknown* document, bool load)> xml;
    std::function<HRESULT()> reread;
  };

  std::filesystem::path File(std::string_view name) const { return std::filesystem::path(base_folder_) / name; }
  bool Log(std::string_view message, LogLevel level);

  HRESULT InitSettings();
  HRESULT InitDatabaseCollections();
  // Steps of the firewall and database links: S_OK, or the success code Init reports.
  HRESULT LinkFirewall();
  HRESULT LinkDatabase();

  // The database collections in export order, or nullopt when one is missing.
  std::optional<std::vector<Exchange>> DataChildren();
  // The settings objects in export order (settings, filter rule set, element set, log folders,
  // domains, discount times, report tasks, IP list), or nullopt when one is missing.
  std::optional<std::vector<Exchange>> SettingsChildren();
  // Imports `document` into fresh settings objects bound to `copy`, a copy of the settings
  // document: the first failure is what the live import would meet.
  HRESULT TrialSettingsImport(IUnknown* document, const std::filesystem::path& copy);
  // Restores the settings document from `saved` and reads every settings object again.
  void RestoreSettings(const std::filesystem::path& saved);

  std::string base_folder_;
  bool initialised_ = false;

  com::ComPtr<IQVAXMLDoc> document_;
  com::ComPtr<IQVADataBase> database_;
  com::ComPtr<IQVAConfigure> configure_;
  com::ComPtr<IQVALogDirs> log_dirs_;
  com::ComPtr<IQVAIPs> ips_;
  com::ComPtr<IQVAElementSet> element_set_;
  com::ComPtr<IQVAFilterRuleSet> filter_rule_set_;
  com::ComPtr<IQVADiscountTimes> discount_times_;
  com::ComPtr<IQVADomains> domains_;
  com::ComPtr<IQVABackups> backups_;
  com::ComPtr<IQVAArchs> archs_;
  com::ComPtr<IQVAEvents> events_;
  com::ComPtr<IQVAReportTasks> report_tasks_;
  com::ComPtr<IQVARealTime> real_time_;
  com::ComPtr<IQVAUsers> users_;
  com::ComPtr<IQVADeps> deps_;
  com::ComPtr<IQVAGroups> groups_;
  com::ComPtr<IQVAComputers> computers_;
  com::ComPtr<IQVAFees> user_fees_, dep_fees_, computer_fees_, group_fees_;
  com::ComPtr<IQVALimitIPs> limit_ips_;
  com::ComPtr<IQVAApplications> applications_;
  com::ComPtr<IQVADestaddrs> destaddrs_;
  com::ComPtr<IQVACategories> categories_;
  com::ComPtr<IQVARules> rules_;
  com::ComPtr<IQVAThreats> threats_;
  com::ComPtr<IQVASignatures> signatures_;
  com::ComPtr<IQVAFiletypes> filetypes_;
  com::ComPtr<IQVAPorts> ports_;
  com::ComPtr<IQVAProtocols> protocols_;
  com::ComPtr<IUnknown> control_;
  com::ComPtr<IUnknown> proxy_;
};

}  // namespace qva
