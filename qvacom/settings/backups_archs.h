// The backup and archive listings: the names of the backup documents ("*.xml" in "backup/") and
// of the archive files ("*.fdb" in "Arch/") under the program folder. Read-only views of the
// folders: making and restoring backups and archives is the array's work, which calls Load
// again after it has written one.
//
// Init(CurDir) sets Dir to CurDir, with "/" added unless it ends with "/" or "\" (an empty
// CurDir stays empty: the folder is then relative to the working folder), followed by the
// sub-folder, and lists it. Load lists regular files (or links to them) whose extension matches,
// ignoring letter case as the Windows file search does; sub-folders are skipped whatever their
// name. Entries come in name order (the order an NTFS folder lists them in), so positions are
// stable between two Loads of an unchanged folder. A missing or unreadable folder is an empty
// list, not an error.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/bstr.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/settings/list_item.h"
#include "qvacom_idl.h"

namespace qva {

struct FileNameRecord {
  com::Bstr name;  // file name with extension, without the folder
};

class CQVABackup : public settings::RecordItem<IQVABackup, FileNameRecord> {
 public:
  QVA_DECL_IQVABackup;
};

class CQVAArch : public settings::RecordItem<IQVAArch, FileNameRecord> {
 public:
  QVA_DECL_IQVAArch;
};

namespace settings {

// The listing shared by both classes: `Item` is the item class, files `*<extension>` in
// `<CurDir>/<subfolder>/`.
template <class Item>
class FolderListing {
 public:
  FolderListing(std::string_view subfolder, std::string_view extension)
      : subfolder_(subfolder), extension_(extension) {}

  ItemList<Item>& items() { return items_; }
  const ItemList<Item>& items() const { return items_; }
  const com::Bstr& dir() const { return dir_; }

  // Sets the folder from `cur_dir` and lists it.
  HRESULT Init(BSTR cur_dir) {
    dir_ = com::Bstr(WithSeparator(com::BstrToUtf8(cur_dir)) + subfolder_);
    return Load();
  }
  // Lists the folder again.
  HRESULT Load();
  // A new item named `name`, appended.
  com::Expected<com::ComPtr<Item>> Append(BSTR name);
  // The first item named exactly `name`, or null.
  Item* Find(BSTR name) const {
    for (const com::ComPtr<Item>& item : items_.items())
      if (item->record().name.view() == com::BstrView(name)) return item.get();
    return nullptr;
  }
  // Index: the item at a 0-based position, handed out as its interface.
  template <class I>
  HRESULT At(const VARIANT& position, I** out) const {
    if (!out) return E_POINTER;
    Item* item = nullptr;
    const HRESULT hr = items_.Index(position, &item);
    *out = item;
    return hr;
  }

 private:
  std::string subfolder_;
  std::string extension_;  // with its dot
  com::Bstr dir_;
  ItemList<Item> items_;
};

// Lists the file names with `extension` (matched without regard to ASCII letter case) in
// `folder`, in name order; an unreadable folder lists nothing.
std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension);

template <class Item>
com::Expected<com::ComPtr<Item>> FolderListing<Item>::Append(BSTR name) {
  ASSIGN_OR_RETURN(com::ComPtr<Item> item, com::CreateObject<Item>());
  ASSIGN_OR_RETURN(item->record().name, CopyBstr(name));
  items_.items().push_back(item);
  return item;
}

template <class Item>
HRESULT FolderListing<Item>::Load() {
  items_.items().clear();
  for (const std::string& name : ListFiles(dir_.utf8(), extension_)) {
    com::Bstr text(name);
    ASSIGN_OR_RETURN(com::ComPtr<Item> item, Append(text.get()));
  }
  return S_OK;
}

}  // namespace settings

// Add(Name) hands out the listed backup of that name, or lists a new one of that name (in
// memory: no file is made) and hands it out, so the array can list a backup it has just written
// without reading the folder again. Exists(Name) answers S_OK with 1 when a backup of exactly
// that name is listed, S_OK with 0 when none is.
class CQVABackups : public com::Dispatch<IQVABackups> {
 public:
  QVA_DECL_IQVABackups;

 private:
  settings::FolderListing<CQVABackup> list_{"backup/", ".xml"};
};

class CQVAArchs : public com::Dispatch<IQVAArchs> {
 public:
  QVA_DECL_IQVAArchs;

 private:
  settings::FolderListing<CQVAArch> list_{"Arch/", ".fdb"};
};

}  // namespace qva
