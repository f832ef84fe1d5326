// The groups of computers: CQVAGroup, one row of the table Groups, and CQVAGroups, their
// collection. Computers name their group in their Group field; the computers collection's
// HaveComputersInGroup and RemoveFromGroup work on that name, and removing a group leaves its
// computers alone. Their behaviour is that of every directory account (directory_accounts.h).
#pragma once

#include <string_view>

#include "qvacom/accounts/directory_accounts.h"

namespace qva {

struct GroupKind {
  using Item = IQVAGroup;
  using Collection = IQVAGroups;
  static constexpr std::string_view kItemSource = "QVA.Group.1";
  static constexpr std::string_view kSource = "QVA.Groups.1";
  static constexpr const EntityStatements& kStatements = kGroupStatements;
  static constexpr std::string_view kSection = "Groups";
  static constexpr std::string_view kElement = "Group";
};

using CQVAGroup = DirectoryAccount<GroupKind>;
using CQVAGroups = DirectoryAccounts<GroupKind>;
extern template class DirectoryAccount<GroupKind>;

}  // namespace qva
