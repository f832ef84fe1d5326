// The database-backed collections: the four kinds of account and the nine named sets, all on the
// same collection pattern (Item, Add, Remove, _NewEnum; the item's Save and Clear).
//
// Where the object model leaves a console to get it right, the commands do:
//   - add refuses an account name that exists (Add itself would make a second item of the name)
//     and takes an unsaved item out of the collection again when a put or the Save fails, so the
//     service is not left holding an item that is in no table;
//   - change puts the old values back when a put or the Save fails, so the service's item does
//     not hold half a change that a later save would write;
//   - a change of the key (Name; a computer's IP) would update no row through Save(false), which
//     finds the row by the key held now: the row is deleted under the old key (Clear) and
//     inserted under the new one (Save(true));
//   - the entries of a named set share their Name (a set is all entries of one name): show lists
//     them all, remove removes them all (Clear deletes every row of the name, so leaving some of
//     them listed would list entries that are in no table), and change is refused for a name
//     with several entries, whose Save(false) would write one value over all of them.
#include <algorithm>

#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/output.h"

namespace vodrikctl {
namespace {

struct CollectionKind {
  const char* command;   // "users", or the set's KIND ("applications")
  const char* property;  // the array's property that hands it out
  const char* noun;      // for messages
  const char* key;       // the property Item, Remove and Save find an item by
  bool unique;           // names are unique (accounts); a set's entries share theirs
  Cells columns;         // the table columns of list; empty: every property
};

const CollectionKind kAccounts[] = {
    {"users", "Users", "user", "Name", true, {"Name", "FullName", "Dep", "Enable", "BytesLeft", "TimeLeft", "FeeLeft"}},
    {"deps", "Deps", "department", "Name", true, {}},
    {"groups", "Groups", "group", "Name", true, {}},
    {"computers", "Computers", "computer", "IP", true, {"IP", "Name", "Group", "Enable", "CurUser", "LastTime"}},
};

const CollectionKind kSets[] = {
    {"applications", "Applications", "application set", "Name", false, {}},
    {"categories", "Categories", "category set", "Name", false, {}},
    {"destaddrs", "Destaddrs", "destination address set", "Name", false, {}},
    {"filetypes", "Filetypes", "file type set", "Name", false, {}},
    {"ports", "Ports", "port set", "Name", false, {}},
    {"protocols", "Protocols", "protocol set", "Name", false, {}},
    {"rules", "Rules", "rule set", "Name", false, {}},
    {"signatures", "Signatures", "signature set", "Name", false, {}},
    {"threats", "Threats", "threat set", "Name", false, {}},
};

std::string KeyOf(IDispatch* item, const CollectionKind& kind) { return Text(Get(item, kind.key)); }

// Every item whose key is `name`, in collection order.
std::vector<Object> Matching(IDispatch* collection, const CollectionKind& kind, const std::string& name) {
  std::vector<Object> found;
  for (Object& item : Items(collection))
    if (KeyOf(item.get(), kind) == name) found.push_back(std::move(item));
  return found;
}

// The item `name` (the first of that key), or a refusal with the not-found code.
Object Lookup(IDispatch* collection, const CollectionKind& kind, const std::string& name) {
  std::vector<com::Variant> args;
  args.push_back(com::Variant::Str(name));
  try {
    return CallForObject(collection, "Item", std::move(args));
  } catch (const Failure& failure) {
    if (failure.hr != E_FAIL) throw;
  }
  throw Refusal{kExitNoSuchItem, std::string("no ") + kind.noun + " " + name};
}

bool Exists(IDispatch* collection, const CollectionKind& kind, const std::string& name) {
  try {
    Lookup(collection, kind, name);
    return true;
  } catch (const Refusal&) {
    return false;
  }
}

void Save(IDispatch* item, bool add) {
  std::vector<com::Variant> args;
  args.push_back(com::Variant::Bool(add));
  Call(item, "Save", std::move(args));
}

std::vector<std::pair<std::string, std::string>> Assignments(const Invocation& invocation) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& text : invocation.assignments) out.push_back(SplitAssignment(text));
  return out;
}

const std::string& NameArgument(const Invocation& invocation, const char* action) {
  if (invocation.words.size() != 2) throw UsageError{std::string(action) + " takes one NAME"};
  return invocation.words[1];
}

int List(IDispatch* collection, const CollectionKind& kind, bool json) {
  std::vector<std::vector<Property>> records;
  for (const Object& item : Items(collection))
    records.push_back(json || kind.columns.empty() ? ReadProperties(item.get())
                                                   : ReadProperties(item.get(), kind.columns));
  PrintRecords(stdout, records, kind.columns, json);
  return 0;
}

int Show(IDispatch* collection, const CollectionKind& kind, const std::string& name, bool json) {
  if (kind.unique) {
    PrintRecord(stdout, ReadProperties(Lookup(collection, kind, name).get()), json);
    return 0;
  }
  std::vector<std::vector<Property>> records;
  for (const Object& entry : Matching(collection, kind, name)) records.push_back(ReadProperties(entry.get()));
  if (records.empty()) throw Refusal{kExitNoSuchItem, std::string("no ") + kind.noun + " " + name};
  PrintRecords(stdout, records, {}, json);
  return 0;
}

int Add(IDispatch* collection, const CollectionKind& kind, const std::string& name, const Invocation& invocation) {
  const auto assignments = Assignments(invocation);
  for (const auto& [property, value] : assignments)
    if (property == kind.key)
      throw UsageError{std::string("the ") + kind.key + " of a new " + kind.noun + " is its NAME argument"};
  if (kind.unique && Exists(collection, kind, name))
    throw Refusal{kExitBadData, std::string("a ") + kind.noun + " " + name + " exists already"};
  // When this set has entries of the name, the new entry is the last one of them.
  const size_t earlier = kind.unique ? 0 : Matching(collection, kind, name).size();

  std::vector<com::Variant> args;
  args.push_back(com::Variant::Str(name));
  Object item = CallForObject(collection, "Add", std::move(args));
  try {
    for (const auto& [property, value] : assignments) PutText(item.get(), property, value);
    Save(item.get(), true);
  } catch (...) {
    // Take the unsaved item out again. Remove would Clear every row of the name: with earlier
    // entries of this set's name that would delete them, so then the item is left listed.
    if (earlier == 0) {
      try {
        std::vector<com::Variant> remove;
        remove.push_back(com::Variant::Str(name));
        Call(collection, "Remove", std::move(remove));
      } catch (const Failure&) {
      }
    }
    throw;
  }
  return 0;
}

int Change(IDispatch* collection, const CollectionKind& kind, const std::string& name, const Invocation& invocation) {
  const auto assignments = Assignments(invocation);
  if (assignments.empty()) throw UsageError{"change needs at least one --set Prop=Value"};
  if (!kind.unique) {
    const size_t entries = Matching(collection, kind, name).size();
    if (entries > 1)
      throw Refusal{kExitBadData, std::to_string(entries) + " entries are named " + name +
                                      ": a change would write one value over all of them; remove the set and add "
                                      "its entries again"};
  }
  Object item = Lookup(collection, kind, name);

  std::string new_key = name;
  for (const auto& [property, value] : assignments)
    if (property == kind.key) new_key = value;
  const bool rekey = new_key != name;
  if (rekey && kind.unique && Exists(collection, kind, new_key))
    throw Refusal{kExitBadData, std::string("a ") + kind.noun + " " + new_key + " exists already"};

  // The values the puts replace, to put back when the change cannot be completed.
  std::vector<std::pair<std::string, com::Variant>> before;
  for (const auto& [property, value] : assignments) before.emplace_back(property, Get(item.get(), property));

  if (rekey) Call(item.get(), "Clear");  // the row under the old key
  try {
    for (const auto& [property, value] : assignments) PutText(item.get(), property, value);
    Save(item.get(), rekey);
  } catch (...) {
    try {
      for (auto it = before.rbegin(); it != before.rend(); ++it) Put(item.get(), it->first, it->second);
      if (rekey) Save(item.get(), true);  // the old row back
    } catch (const Failure&) {
    }
    throw;
  }
  return 0;
}

int Remove(IDispatch* collection, const CollectionKind& kind, const std::string& name) {
  Lookup(collection, kind, name);
  // Accounts: the one item. Sets: every entry of the name, one Remove each.
  const size_t count = kind.unique ? 1 : Matching(collection, kind, name).size();
  for (size_t i = 0; i < count; ++i) {
    std::vector<com::Variant> args;
    args.push_back(com::Variant::Str(name));
    Call(collection, "Remove", std::move(args));
  }
  return 0;
}

int Run(IDispatch* array, const CollectionKind& kind, const Invocation& invocation) {
  if (invocation.words.empty()) throw UsageError{"missing action: list, show, add, change or remove"};
  const std::string& action = invocation.words[0];
  const bool takes_assignments = action == "add" || action == "change";
  if (!takes_assignments && !invocation.assignments.empty()) throw UsageError{"--set belongs to add and change"};
  if (action == "list") {
    if (invocation.words.size() != 1) throw UsageError{"list takes no arguments"};
    return List(GetObject(array, kind.property).get(), kind, invocation.json);
  }
  if (action == "show")
    return Show(GetObject(array, kind.property).get(), kind, NameArgument(invocation, "show"), invocation.json);
  if (action == "add")
    return Add(GetObject(array, kind.property).get(), kind, NameArgument(invocation, "add"), invocation);
  if (action == "change")
    return Change(GetObject(array, kind.property).get(), kind, NameArgument(invocation, "change"), invocation);
  if (action == "remove")
    return Remove(GetObject(array, kind.property).get(), kind, NameArgument(invocation, "remove"));
  throw UsageError{"unknown action " + action + ": list, show, add, change or remove"};
}

}  // namespace

int RunAccounts(IDispatch* array, const std::string& command, const Invocation& invocation) {
  for (const CollectionKind& kind : kAccounts)
    if (command == kind.command) return Run(array, kind, invocation);
  throw UsageError{"unknown command " + command};
}

int RunSets(IDispatch* array, const Invocation& invocation) {
  if (invocation.words.empty()) throw UsageError{"missing KIND of named set"};
  const CollectionKind* kind = nullptr;
  for (const CollectionKind& k : kSets)
    if (invocation.words[0] == k.command) kind = &k;
  if (!kind) throw UsageError{"unknown KIND of named set " + invocation.words[0]};
  Invocation rest = invocation;
  rest.words.erase(rest.words.begin());
  return Run(array, *kind, rest);
}

}  // namespace vodrikctl
