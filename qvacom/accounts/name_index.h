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
//
// Layout, for look-up speed over a large collection: one flat open-addressing table (linear
// probing) of {hash, first item of the name, the name itself when it is short}. A look-up of a
// short name touches one slot and then only the cache line of the item that AddRef touches
// anyway; a long name is compared against the UTF-8 name the item keeps in its listing. (Comparing
// every name in the item cost a second cache miss per look-up: the listing lies several lines
// into the item.) Further items of the same name hang off the first in a ring through their
// listings, in list order. Removing a name shifts the entries behind it back (no tombstones), so
// a table that sees many renames does not fill up with dead slots.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/object_pool.h"

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
  // Collections load items by the hundred thousand: they live in the slot pools (object_pool.h).
  static constexpr bool kPooledAllocation = true;

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
    NameIndexLink* index = nullptr;  // null: not listed
    uint64_t order = 0;              // place in list order
    ListedItem* prev = nullptr;      // ring of the listed items of the same name, in list order
    ListedItem* next = nullptr;
    std::string key;                 // the name the item is filed under
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
    for (const Slot& slot : slots_) {
      if (!slot.first) continue;
      ListedItem* item = slot.first;
      do {
        ListedItem* next = item->listing_.next;
        item->listing_ = {};
        item = next;
      } while (item != slot.first);
    }
    slots_ = {};
    mask_ = 0;
    used_ = 0;
  }

  // Lists exactly `items`, in their order.
  void Rebuild(const std::vector<com::ComPtr<Item>>& items) {
    Clear();
    Rehash(CapacityFor(items.size()));
    for (const com::ComPtr<Item>& item : items) Append(item.get());
  }

  // Lists `item` after every item listed now.
  void Append(Item* item) {
    ListedItem::Listing& link = LinkOf(item);
    link.index = this;
    link.order = next_order_++;
    link.key = item->name().utf8();
    File(item);
  }

  // Unlists `item` (listed by this index).
  void Remove(Item* item) {
    Unfile(item);
    LinkOf(item) = {};
  }

  // The first item of that name in list order, or null.
  Item* First(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    ListedItem* const first = slots_[Find(name, Hash(name))].first;
    return first ? static_cast<Item*>(first) : nullptr;
  }

  // The first item of that name, in list order, that `pred` accepts; or null.
  template <class Pred>
  Item* FirstWhere(std::string_view name, Pred pred) const {
    if (slots_.empty()) return nullptr;
    ListedItem* const first = slots_[Find(name, Hash(name))].first;
    if (!first) return nullptr;
    ListedItem* item = first;
    do {
      if (pred(*static_cast<Item*>(item))) return static_cast<Item*>(item);
      item = item->listing_.next;
    } while (item != first);
    return nullptr;
  }

  void Renamed(ListedItem* listed) override {
    Item* item = static_cast<Item*>(listed);
    std::string name = item->name().utf8();
    if (name == LinkOf(item).key) return;
    Unfile(item);
    LinkOf(item).key = std::move(name);
    File(item);
  }

  // The number of slots of the table (for tests of its growth).
  size_t capacity() const { return slots_.size(); }

 private:
  // first == null: free. The table is never full, so every probe ends at a free slot. Two slots
  // to a cache line.
  struct alignas(32) Slot {
    static constexpr uint8_t kLongName = 0xFF;  // `size` of a name that is not kept here
    ListedItem* first = nullptr;
    uint32_t hash = 0;
    uint8_t size = 0;
    char name[19] = {};

    bool Holds(std::string_view key, uint32_t key_hash) const {
      if (hash != key_hash) return false;
      if (size == kLongName) return first->listing_.key == key;
      if (size != key.size()) return false;
      for (size_t i = 0; i < size; ++i)  // a few bytes: cheaper than a call to memcmp
        if (name[i] != key[i]) return false;
      return true;
    }
  };
  static_assert(sizeof(Slot) == 32);

  static ListedItem::Listing& LinkOf(ListedItem* item) { return item->listing_; }
  // A hash for short names, inline because a look-up is otherwise a handful of instructions:
  // eight bytes at a time, then MurmurHash3's 64-bit finaliser, so that the low bits (the slot)
  // depend on every byte.
  static uint32_t Hash(std::string_view name) {
    const char* p = name.data();
    size_t n = name.size();
    uint64_t h = 0x9E3779B97F4A7C15ull * (n + 1);
    for (; n >= 8; p += 8, n -= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      h = std::rotl((h ^ word) * 0xC2B2AE3D27D4EB4Full, 31);
    }
    uint64_t tail = 0;
    for (size_t i = 0; i < n; ++i) tail |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    h ^= tail;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
  }
  // Up to 4/5 full: with the hash in the slot, a few more probes cost less than a table twice as
  // large costs in cache and TLB reach.
  static size_t CapacityFor(size_t names) {
    size_t capacity = 16;
    while (names * 5 > capacity * 4) capacity *= 2;
    return capacity;
  }

  // The slot of `name`, or the free slot where it would go.
  size_t Find(std::string_view name, uint32_t hash) const {
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (!slot.first || slot.Holds(name, hash)) return i;
    }
  }

  void Rehash(size_t capacity) {
    std::vector<Slot, com::HugePageAllocator<Slot>> old = std::exchange(slots_, std::vector<Slot, com::HugePageAllocator<Slot>>(capacity));
    mask_ = capacity - 1;
    for (const Slot& slot : old) {
      if (!slot.first) continue;
      size_t i = slot.hash & mask_;
      while (slots_[i].first) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }

  // Files `item` under its listing's key, at its place in list order among the items of the name.
  void File(ListedItem* item) {
    ListedItem::Listing& link = item->listing_;
    if ((used_ + 1) * 5 > slots_.size() * 4) Rehash(CapacityFor(used_ + 1));
    const uint32_t hash = Hash(link.key);
    Slot& slot = slots_[Find(link.key, hash)];
    if (!slot.first) {
      slot.first = item;
      slot.hash = hash;
      if (link.key.size() <= sizeof slot.name) {
        slot.size = static_cast<uint8_t>(link.key.size());
        std::memcpy(slot.name, link.key.data(), link.key.size());
      } else {
        slot.size = Slot::kLongName;
      }
      link.prev = link.next = item;
      ++used_;
      return;
    }
    // Appends (the usual case) go behind the last item at once; renames walk to their place.
    ListedItem* const first = slot.first;
    ListedItem* after = first->listing_.prev;
    if (link.order < after->listing_.order) {
      after = nullptr;
      for (ListedItem* at = first; at->listing_.order < link.order; at = at->listing_.next) after = at;
    }
    if (!after) {
      after = first->listing_.prev;
      slot.first = item;
    }
    link.prev = after;
    link.next = after->listing_.next;
    after->listing_.next->listing_.prev = item;
    after->listing_.next = item;
  }

  void Unfile(ListedItem* item) {
    ListedItem::Listing& link = item->listing_;
    const size_t at = Find(link.key, Hash(link.key));
    Slot& slot = slots_[at];
    if (link.next == item) {
      EraseSlot(at);
    } else {
      if (slot.first == item) slot.first = link.next;
      link.prev->listing_.next = link.next;
      link.next->listing_.prev = link.prev;
    }
    link.prev = link.next = nullptr;
  }

  // Frees slot `at`, moving back each later entry of the probe run whose home lies at or before
  // the hole.
  void EraseSlot(size_t at) {
    for (size_t j = (at + 1) & mask_; slots_[j].first; j = (j + 1) & mask_) {
      const size_t home = slots_[j].hash & mask_;
      if (((j - home) & mask_) >= ((j - at) & mask_)) {
        slots_[at] = slots_[j];
        at = j;
      }
    }
    slots_[at] = {};
    --used_;
  }

  std::vector<Slot, com::HugePageAllocator<Slot>> slots_;
  size_t mask_ = 0;
  size_t used_ = 0;  // names filed
  uint64_t next_order_ = 0;
};

}  // namespace qva
