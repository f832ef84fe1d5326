// The log folders: the folders the firewall's text logs are read from, each with how far the
// reading of its proxy, firewall and block logs has come (date of the last file read, its size
// in bytes and the page reached in it), so reading resumes after a restart. Section "LogDirs" of
// the settings document, one "LogDirItem" per folder; attributes in writing order: "LogDir",
// then for proxy, firewall and block in turn "LastDate*" ("%Y-%m-%d"), "FileSize*" (64-bit
// decimal), "LastFilePage*" (decimal).
//
// The folder path is the key. A path read from the document that does not end with "/" or "\"
// gets "/"; one given to Add is kept as written, so an added "logs" is stored as "logs" and comes
// back as "logs/". Save of the list rewrites all ten attributes of each folder's element (a
// folder without one gets a new element); Save of a single folder, which the log reader calls as
// it goes, rewrites only its nine progress attributes. Both save the settings file, as Remove
// does.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom_idl.h"

namespace qva {

struct LogDirRecord {
  com::Bstr name;
  DATE proxy_date = 0.0;
  LONGLONG proxy_size = 0;
  LONG proxy_page = 0;
  DATE firewall_date = 0.0;
  LONGLONG firewall_size = 0;
  LONG firewall_page = 0;
  DATE block_date = 0.0;
  LONGLONG block_size = 0;
  LONG block_page = 0;
};

// Holds the settings document wrapper given to its Init, for its own Save.
class CQVALogDir : public settings::RecordItem<IQVALogDir, LogDirRecord> {
 public:
  QVA_DECL_IQVALogDir;

 private:
  com::ComPtr<IUnknown> wrapper_;
};

struct LogDirsTraits {
  using Item = CQVALogDir;
  using R = LogDirRecord;
  static constexpr std::string_view kSource = "QVA.LogDirs.1";
  static constexpr std::string_view kSection = "LogDirs";
  static constexpr std::string_view kElement = "LogDirItem";
  static constexpr settings::Field<R> kAll[] = {
      settings::Folder("LogDir", &R::name),
      settings::Day("LastDateProxy", &R::proxy_date),
      settings::Integer("FileSizeProxy", &R::proxy_size),
      settings::Integer("LastFilePageProxy", &R::proxy_page),
      settings::Day("LastDateFirewall", &R::firewall_date),
      settings::Integer("FileSizeFirewall", &R::firewall_size),
      settings::Integer("LastFilePageFirewall", &R::firewall_page),
      settings::Day("LastDateBlock", &R::block_date),
      settings::Integer("FileSizeBlock", &R::block_size),
      settings::Integer("LastFilePageBlock", &R::block_page),
  };
  static constexpr std::span<const settings::Field<R>> kFields{kAll};
  static constexpr std::span<const settings::Field<R>> kSaveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kRemoveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kProgress{kAll + 1, 9};
  static constexpr bool kNewlineAfterSection = false;
};

// Remove takes the folder path (its argument is converted to a string, whatever its name says).
// Exists compares paths exactly: S_FALSE and 0 when absent, S_OK and 1 when present.
class CQVALogDirs : public com::Dispatch<IQVALogDirs> {
 public:
  QVA_DECL_IQVALogDirs;

 private:
  settings::XmlList<LogDirsTraits> list_;
};

}  // namespace qva
