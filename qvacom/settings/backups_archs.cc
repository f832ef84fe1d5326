#include "qvacom/settings/backups_archs.h"

#include <algorithm>
#include <filesystem>

namespace qva {
namespace settings {

std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension) {
  namespace fs = std::filesystem;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  auto matches = [&](const std::string& name) {
    return name.size() >= extension.size() &&
           std::equal(extension.begin(), extension.end(), name.end() - extension.size(),
                      [&](char a, char b) { return lower(a) == lower(b); });
  };
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    std::string name = it->path().filename().string();
    if (matches(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace settings

QVA_RECORD_PROPERTY(CQVABackup, Name, BSTR, name);
QVA_RECORD_PROPERTY(CQVAArch, Name, BSTR, name);

HRESULT CQVABackups::Init(BSTR CurDir) { return list_.Init(CurDir); }

HRESULT CQVABackups::Add(BSTR Name, IQVABackup** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (CQVABackup* listed = list_.Find(Name)) {
    *pVal = listed;
    listed->AddRef();
    return S_OK;
  }
  ASSIGN_OR_RETURN(com::ComPtr<CQVABackup> item, list_.Append(Name));
  *pVal = item.Detach();
  return S_OK;
}

HRESULT CQVABackups::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = list_.Find(Name) ? 1 : 0;
  return S_OK;
}

HRESULT CQVABackups::Index(VARIANT v, IQVABackup** pVal) { return list_.At(v, pVal); }

HRESULT CQVABackups::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVABackups::Load() { return list_.Load(); }

HRESULT CQVABackups::get_Dir(BSTR* pVal) { return settings::GetValue(list_.dir(), pVal); }

HRESULT CQVAArchs::Init(BSTR CurDir) { return list_.Init(CurDir); }

HRESULT CQVAArchs::Load() { return list_.Load(); }

HRESULT CQVAArchs::Index(VARIANT v, IQVAArch** pVal) { return list_.At(v, pVal); }

HRESULT CQVAArchs::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVAArchs::get_Dir(BSTR* pVal) { return settings::GetValue(list_.dir(), pVal); }

}  // namespace qva
