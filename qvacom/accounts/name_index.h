// The index behind a collection's look-ups by name: name (UTF-8) -> the items of that name, in
// list order, so Item answers in O(1) on average and still hands out the FIRST item of the name
// in list order, as clients have always seen it, even when names repeat.
//
// Items can be renamed through their own property put while the collection lists them. An item
// therefore knows the index that lists it (ListedItem) and tells it when its name changes; the
// index moves the item to its new name's entry at its place in list order. An item leaves the
// index when the collection drops it, and every item leaves when the index is cleared or
// destroyed, so an item that outlives its collection (a client still holds it) never reaches a
// dead index.
//
// List order is kept as a number given on entry (the collection only ever appends), so removing an
// item renumbers nothing. Apartment-thread only, like the collections.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/com/com_ptr.h"

namespace qva {

class ListedItem;

// What a listed item knows of the index that lists it.
class NameIndexLink {
 public:
  virtual void Renamed(ListedItem* item) = 0;

 protected:
  ~NameIndexLink() = default;
};

// Base of every item class a Collection lists.
class ListedItem {
 public:
  ListedItem() = default;
  ListedItem(const ListedItem&) = delete;
  ListedItem& operator=(const ListedItem&) = delete;

 protected:
  ~ListedItem() = default;

  // Called by the item after its name changed through anything but its collection's own loads.
  void NameChanged() {
    if (listing_.index) listing_.index->Renamed(this);
  }

  // Passes on the result `hr` of a property put of `field`; when `field` is `name_field`, the
  // field the item is listed by, and the put succeeded, tells the index.
  HRESULT AfterPut(HRESULT hr, const void* field, const void* name_field) {
    if (SUCCEEDED(hr) && field == name_field) NameChanged();
    return hr;
  }

 private:
  template <class>
  friend class NameIndex;
  struct Listing {
    NameIndexLink* index = nullptr;
    uint64_t order = 0;              // place in list order
    const std::string* key = nullptr;  // the index's key the item is filed under
  } listing_;
};

// `Item` derives from ListedItem and has `const com::Bstr& name() const`.
template <class Item>
class NameIndex final : public NameIndexLink {
 public:
  NameIndex() = default;
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;
  ~NameIndex() { Clear(); }

  // Drops every item (they stay alive, unlisted).
  void Clear() {
    for (auto& [key, entry] : entries_) {
      Detach(entry.first);
      for (Item* item : entry.more) Detach(item);
    }
    entries_.clear();
  }

  // Lists exactly `items`, in their order.
  void Rebuild(const std::vector<com::ComPtr<Item>>& items) {
    Clear();
    entries_.reserve(items.size());
    for (const com::ComPtr<Item>& item : items) Append(item.get());
  }

  // Lists `item` after every item listed now.
  void Append(Item* item) {
    LinkOf(item) = {this, next_order_++, nullptr};
    File(item, item->name().utf8());
  }

  // Unlists `item` (listed by this index).
  void Remove(Item* item) {
    Unfile(item);
    Detach(item);
  }

  // The first item of that name in list order, or null.
  Item* First(std::string_view name) const {
    const auto found = entries_.find(name);
    return found == entries_.end() ? nullptr : found->second.first;
  }

  // The first item of that name, in list order, that `pred` accepts; or null.
  template <class Pred>
  Item* FirstWhere(std::string_view name, Pred pred) const {
    const auto found = entries_.find(name);
    if (found == entries_.end()) return nullptr;
    if (pred(*found->second.first)) return found->second.first;
    for (Item* item : found->second.more)
      if (pred(*item)) return item;
    return nullptr;
  }

  void Renamed(ListedItem* listed) override {
    Item* item = static_cast<Item*>(listed);
    std::string name = item->name().utf8();
    if (name == *LinkOf(item).key) return;
    Unfile(item);
    File(item, std::move(name));
  }

 private:
  // The items of one name, in list order: the first apart, because names rarely repeat.
  struct Entry {
    Item* first = nullptr;
    std::vector<Item*> more;
  };
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  static ListedItem::Listing& LinkOf(Item* item) { return static_cast<ListedItem*>(item)->listing_; }
  static uint64_t Order(Item* item) { return LinkOf(item).order; }
  static void Detach(Item* item) { LinkOf(item) = {}; }

  void File(Item* item, std::string name) {
    auto [at, fresh] = entries_.try_emplace(std::move(name));
    LinkOf(item).key = &at->first;
    Entry& entry = at->second;
    if (fresh) {
      entry.first = item;
      return;
    }
    if (Order(item) < Order(entry.first)) std::swap(item, entry.first);
    auto place = entry.more.begin();
    while (place != entry.more.end() && Order(*place) < Order(item)) ++place;
    entry.more.insert(place, item);
  }

  void Unfile(Item* item) {
    const auto at = entries_.find(std::string_view(*LinkOf(item).key));
    Entry& entry = at->second;
    if (entry.first == item) {
      if (entry.more.empty()) {
        entries_.erase(at);
        return;
      }
      entry.first = entry.more.front();
      entry.more.erase(entry.more.begin());
      return;
    }
    std::erase(entry.more, item);
  }

  std::unordered_map<std::string, Entry, Hash, std::equal_to<>> entries_;
  uint64_t next_order_ = 0;
};

}  // namespace qva
