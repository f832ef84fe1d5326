// The name index behind Item: first match in list order, kept through renames, removals and
// items that outlive their collection.
#include "qvacom/accounts/name_index.h"

#include <gtest/gtest.h>

#include <map>
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

// Random renames, removals and appends, each followed by a look-up of every name of the
// vocabulary, which must give what a scan of the listed items in order gives. The vocabularies
// stress one structure each: few names (long runs of equal names, first of a name removed or
// renamed away), many names (growth of the table, probe runs broken up by removals), and names
// too long to be kept in a slot, some sharing a long prefix with a short one.
TEST(NameIndexTest, MatchesAScanThroughRandomChanges) {
  struct Case {
    const char* what;
    std::vector<std::string> vocabulary;
    size_t initial;
    size_t steps;
  };
  std::vector<std::string> many;
  for (int i = 0; i < 400; ++i) many.push_back("user" + std::to_string(i));
  const std::vector<std::string> long_names = {
      "",   "a", "eighteen-bytes-nam", "nineteen-bytes-name", "nineteen-bytes-namf", "twenty-bytes-name-ok",
      "nineteen-bytes-name-and-more", std::string(60, 'z'), std::string(59, 'z') + "y"};
  const Case cases[] = {
      {"few names", {"dup", "other", "dup2"}, 60, 600},
      {"one name", {"same"}, 100, 300},
      {"many names", many, 200, 600},
      {"long names", long_names, 30, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t seed = 2463534242u;
    const auto next = [&](size_t n) {
      seed ^= seed << 13;
      seed ^= seed >> 17;
      seed ^= seed << 5;
      return static_cast<size_t>(seed % n);
    };
    const auto any_name = [&] { return c.vocabulary[next(c.vocabulary.size())]; };
    std::vector<com::ComPtr<Named>> listed, dropped;
    for (size_t i = 0; i < c.initial; ++i) {
      listed.push_back(Make({"w"})[0]);
      listed.back()->Rename(any_name());
    }
    NameIndex<Named> index;
    index.Rebuild(listed);
    // The first listed item of every name, as a scan in list order finds it.
    const auto scan = [&] {
      std::map<std::string, Named*> first;
      for (const auto& item : listed) first.emplace(item->name().utf8(), item.get());
      return first;
    };
    for (size_t step = 0; step < c.steps; ++step) {
      const size_t op = next(10);
      if (op < 6 && !listed.empty()) {
        listed[next(listed.size())]->Rename(any_name());
      } else if (op < 8 && !listed.empty()) {
        const size_t at = next(listed.size());
        index.Remove(listed[at].get());
        dropped.push_back(listed[at]);
        listed.erase(listed.begin() + static_cast<std::ptrdiff_t>(at));
      } else if (op < 9 && !dropped.empty()) {
        dropped[next(dropped.size())]->Rename(any_name());  // unlisted: changes nothing
      } else {
        listed.push_back(Make({"w"})[0]);
        listed.back()->Rename(any_name());  // before Append: the index takes the name as it is
        index.Append(listed.back().get());
      }
      const std::map<std::string, Named*> expected = scan();
      for (const std::string& name : c.vocabulary) {
        const auto found = expected.find(name);
        ASSERT_EQ(index.First(name), found == expected.end() ? nullptr : found->second)
            << "step " << step << ", looking up " << name;
      }
      ASSERT_EQ(index.First("absent"), nullptr);
    }
    // Every item of a name is reachable, in list order.
    for (const std::string& name : c.vocabulary) {
      for (const auto& item : listed) {
        if (item->name().utf8() != name) continue;
        EXPECT_EQ(index.FirstWhere(name, [&](const Named& n) { return &n == item.get(); }), item.get());
      }
    }
  }
}

// A look-up by a UTF-16 name builds its key from the units; it must be the key the index filed the
// UTF-8 name under, at every length around the word and inline boundaries.
TEST(NameKeyTest, AsciiUnitsGiveTheKeyOfTheirText) {
  for (size_t length = 0; length <= 24; ++length) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('!' + (i * 7 + length) % 94);
    const std::u16string units(name.begin(), name.end());
    NameKey key;
    const bool built = NameKey::FromAscii(units.data(), units.size(), &key);
    ASSERT_EQ(built, length <= NameKey::kInline) << length;
    if (!built) continue;
    const NameKey filed = NameKey::Of(name);
    EXPECT_EQ(std::vector<uint64_t>(key.words, key.words + 3), std::vector<uint64_t>(filed.words, filed.words + 3))
        << name;
  }
  NameKey key;
  for (const std::u16string& other : {std::u16string(u"caf\u00e9"), std::u16string(u"\u0100bc"), std::u16string(u"ab\u4e2d")})
    EXPECT_FALSE(NameKey::FromAscii(other.data(), other.size(), &key));
}

// Names that share their first 19 bytes (all a slot keeps inline) are told apart by their hash and
// their whole text; the 19-byte name itself is a short one.
TEST(NameIndexTest, NamesSharingTheInlineBytesStayApart) {
  const std::string inline_part(NameKey::kInline, 'p');
  std::vector<com::ComPtr<Named>> items = Make({"", "", "", ""});
  const std::string names[] = {inline_part + "-1", inline_part + "-2", inline_part, inline_part + "-1"};
  NameIndex<Named> index;
  for (size_t i = 0; i < items.size(); ++i) {
    items[i]->Rename(names[i]);
    index.Append(items[i].get());
  }
  EXPECT_EQ(index.First(names[0]), items[0].get());
  EXPECT_EQ(index.First(names[1]), items[1].get());
  EXPECT_EQ(index.First(names[2]), items[2].get());
  EXPECT_EQ(index.First(inline_part + "-3"), nullptr);
  EXPECT_EQ(index.First(inline_part.substr(1)), nullptr);
  index.Remove(items[0].get());
  EXPECT_EQ(index.First(names[0]), items[3].get());
}

TEST(NameIndexTest, TableGrowsWithTheNamesAndRebuildSizesItOnce) {
  std::vector<com::ComPtr<Named>> items;
  NameIndex<Named> index;
  for (int i = 0; i < 1000; ++i) {
    items.push_back(Make({"w"})[0]);
    items.back()->Rename("name" + std::to_string(i));
    index.Append(items.back().get());
  }
  EXPECT_GE(index.capacity(), items.size());
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(index.First("name" + std::to_string(i)), items[i].get());

  const size_t grown = index.capacity();
  index.Clear();
  EXPECT_EQ(index.capacity(), 0u);
  EXPECT_EQ(index.First("name1"), nullptr);
  items[1]->Rename("renamed");  // unlisted by the clear: nothing to tell

  NameIndex<Named> rebuilt;
  rebuilt.Rebuild(items);
  EXPECT_EQ(rebuilt.capacity(), grown);
  EXPECT_EQ(rebuilt.First("renamed"), items[1].get());
  EXPECT_EQ(rebuilt.First("name999"), items[999].get());
}

}  // namespace
}  // namespace qva::testing
