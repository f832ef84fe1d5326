// The departments: CQVADep, one row of the table Deps, and CQVADeps, their collection. Users name
// their department in their Dep field; the users collection's HaveUsersInDep and RemoveFromDep
// work on that name, and removing a department leaves its users alone. Their behaviour is that of
// every directory account (directory_accounts.h).
#pragma once

#include <string_view>

#include "qvacom/accounts/directory_accounts.h"

namespace qva {

struct DepKind {
  using Item = IQVADep;
  using Collection = IQVADeps;
  static constexpr std::string_view kItemSource = "QVA.Dep.1";
  static constexpr std::string_view kSource = "QVA.Deps.1";
  static constexpr const EntityStatements& kStatements = kDepStatements;
  static constexpr std::string_view kSection = "Deps";
  static constexpr std::string_view kElement = "Dep";
};

using CQVADep = DirectoryAccount<DepKind>;
using CQVADeps = DirectoryAccounts<DepKind>;
extern template class DirectoryAccount<DepKind>;

}  // namespace qva
