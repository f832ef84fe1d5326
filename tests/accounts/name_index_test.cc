// The name index behind Item: first match in list order, kept through renames, removals and
// items that outlive their collection.
#include "qvacom/accounts/name_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"

namespace qva::testing {
namespace {

// The least item the index can list: a name and a put for it.
class Named : public com::Implements<IUnknown>, public ListedItem {
 public:
  const com::Bstr& name() const { return name_; }
  void Rename(std::string_view name) {
    name_ = com::Bstr(name);
    AfterPut(S_OK, &name_, &name_);
  }

 private:
  com::Bstr name_;
};

std::vector<com::ComPtr<Named>> Make(std::initializer_list<const char*> names) {
  std::vector<com::ComPtr<Named>> out;
  for (const char* n : names) {
    auto item = com::CreateObject<Named>();
    (*item)->Rename(n);  // not listed yet: nothing to tell
    out.push_back(*item);
  }
  return out;
}

TEST(NameIndexTest, FirstInListOrderThroughRenames) {
  // Each step renames item `who` to `to`, then every look-up must give the item at `expect`
  // (-1: none), exactly as a scan of the list in order would.
  struct Step {
    size_t who;
    const char* to;
  } steps[] = {
      {0, "b"},  // a b c b -> b b c b: the renamed first item now answers for b
      {1, "z"},  // b z c b
      {0, "c"},  // c z c b: c goes to position 0, ahead of the loaded c
      {2, "b"},  // c z b b: two b's behind the renamed one
      {0, "b"},  // b z b b
      {0, "a"},  // a z b b
  };
  auto items = Make({"a", "b", "c", "b"});
  NameIndex<Named> index;
  index.Rebuild(items);
  const auto scan = [&](std::string_view name) -> Named* {
    for (const auto& item : items)
      if (item->name().utf8() == name) return item.get();
    return nullptr;
  };
  for (const Step& step : steps) {
    items[step.who]->Rename(step.to);
    for (const char* name : {"a", "b", "c", "z", "y"}) {
      SCOPED_TRACE(std::string(step.to) + " looking up " + name);
      EXPECT_EQ(index.First(name), scan(name));
    }
  }
  EXPECT_EQ(index.FirstWhere("b", [&](const Named& n) { return &n == items[3].get(); }), items[3].get());
  EXPECT_EQ(index.FirstWhere("b", [](const Named&) { return false; }), nullptr);
}

TEST(NameIndexTest, RemovedAndOrphanedItemsNoLongerReachTheIndex) {
  auto items = Make({"x", "x", "y"});
  auto index = std::make_unique<NameIndex<Named>>();
  index->Rebuild(items);
  index->Remove(items[0].get());
  EXPECT_EQ(index->First("x"), items[1].get());
  items[0]->Rename("y");  // no longer listed: the index does not hear of it
  EXPECT_EQ(index->First("y"), items[2].get());

  com::ComPtr<Named> late = Make({"w"})[0];
  index->Append(late.get());
  late->Rename("x");  // appended last, so behind the listed x
  EXPECT_EQ(index->First("x"), items[1].get());
  items[1]->Rename("v");
  EXPECT_EQ(index->First("x"), late.get());

  index.reset();  // the collection goes; its items live on with their clients
  for (const auto& item : items) item->Rename("after");
  late->Rename("after");
}

}  // namespace
}  // namespace qva::testing
