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
// probing) of 32-byte slots: the name's first 19 bytes, its size and its hash packed in three words
// (NameKey), and the first item of the name. A probe compares three words, with no loop over the
// bytes; only a name longer than 19 bytes is then compared against the UTF-8 name the item keeps in
// its listing (the listing lies several lines into the item: a second cache miss the short names
// avoid). A look-up of a short name thus touches one slot and then only the cache line of the item
// that AddRef touches anyway. Further items of the same name hang off the first in a ring through
// their listings, in list order. Removing a name shifts the entries behind it back (no tombstones),
// so a table that sees many renames does not fill up with dead slots.
#pragma once

#include <algorithm>
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

// A name as the index compares it: bytes 0-7 and 8-15 (zero beyond the name) in the first two
// words; in the third, bytes 16-18, the size (kLongName above 19 bytes) and the hash. Equal names
// have equal keys; names of up to 19 bytes are equal exactly when their keys are.
struct NameKey {
  static constexpr size_t kInline = 19;
  static constexpr uint64_t kLongName = 0xFF;

  uint64_t words[3] = {};
  std::string_view name;  // the whole name; read only when it is longer than kInline

  // The key of a name of up to kInline bytes, given as its bytes 0-7, 8-15 and 16-18 (little-endian,
  // zero beyond the name). The fast path of look-ups by a text in another encoding builds these
  // words itself.
  static NameKey Short(uint64_t bytes0, uint64_t bytes8, uint64_t bytes16, size_t size) {
    NameKey key;
    key.words[0] = bytes0;
    key.words[1] = bytes8;
    key.words[2] = bytes16 | (uint64_t{size} << 24) | (uint64_t{Mix(size, bytes0, bytes8, bytes16)} << 32);
    return key;
  }

  // The key of `length` UTF-16 units that are all ASCII (their UTF-8 text is the same bytes), at most
  // kInline of them; false for any other text. Built straight from the units, four at a time: a
  // look-up by a BSTR name spends most of its time here otherwise.
  static bool FromAscii(const char16_t* units, size_t length, NameKey* key) {
    if (length > kInline) return false;
    uint64_t narrowed[5] = {};  // four characters each, in the low half
    uint64_t seen = 0;          // every unit OR-ed together, to reject non-ASCII at the end
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
      uint64_t four;
      std::memcpy(&four, units + i, sizeof four);
      seen |= four;
      const uint64_t pairs = four | (four >> 8);  // bytes: c0 c1 c1 c2 c2 c3 c3 0
      narrowed[i / 4] = (pairs & 0xFFFF) | ((pairs >> 16) & 0xFFFF0000);
    }
    uint64_t tail = 0;
    for (size_t k = 0; i + k < length; ++k) {
      seen |= units[i + k];
      tail |= uint64_t{static_cast<uint8_t>(units[i + k])} << (8 * k);
    }
    narrowed[i / 4] = tail;
    if (seen & 0xFF80FF80FF80FF80ull) return false;
    *key = Short(narrowed[0] | (narrowed[1] << 32), narrowed[2] | (narrowed[3] << 32), narrowed[4], length);
    return true;
  }

  static NameKey Of(std::string_view name) {
    const size_t n = name.size();
    const uint64_t w0 = Bytes(name, 0), w1 = Bytes(name, 8), w2 = Bytes(name, 16);
    if (n <= kInline) {
      NameKey key = Short(w0, w1, w2, n);
      key.name = name;
      return key;
    }
    // Every further group of 24 bytes folds into the hash the same way the first does.
    uint64_t h = Fold(n, w0, w1, w2);
    for (size_t at = 24; at < n; at += 24) h = Fold(h, Bytes(name, at), Bytes(name, at + 8), Bytes(name, at + 16));
    NameKey key;
    key.words[0] = w0;
    key.words[1] = w1;
    key.words[2] = (w2 & 0xFFFFFF) | (kLongName << 24) | (uint64_t{Finish(h)} << 32);
    key.name = name;
    return key;
  }

  uint32_t hash() const { return static_cast<uint32_t>(words[2] >> 32); }
  bool is_long() const { return ((words[2] >> 24) & 0xFF) == kLongName; }

 private:
  // Up to 8 bytes of `name` from `at`, little-endian, zero beyond its end.
  static uint64_t Bytes(std::string_view name, size_t at) {
    if (at >= name.size()) return 0;
    const size_t n = std::min<size_t>(8, name.size() - at);
    uint64_t word = 0;
    if (n == 8) {
      std::memcpy(&word, name.data() + at, 8);
    } else {
      for (size_t i = 0; i < n; ++i) word |= uint64_t{static_cast<unsigned char>(name[at + i])} << (8 * i);
    }
    return word;
  }
  // Three independent multiplies, so the hash of a short name costs a few cycles of latency.
  static uint64_t Fold(uint64_t h, uint64_t a, uint64_t b, uint64_t c) {
    return std::rotl(h * 0x9E3779B97F4A7C15ull, 23) ^ (a * 0xC2B2AE3D27D4EB4Full) ^
           std::rotl(b * 0x165667B19E3779F9ull, 21) ^ std::rotl(c * 0xD6E8FEB86659FD93ull, 43);
  }
  // MurmurHash3's 64-bit finaliser: the low bits (the slot) depend on every byte.
  static uint32_t Finish(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
  }
  static uint32_t Mix(size_t size, uint64_t a, uint64_t b, uint64_t c) { return Finish(Fold(size, a, b, c)); }
};

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
  Item* First(std::string_view name) const { return First(NameKey::Of(name)); }
  Item* First(const NameKey& key) const {
    if (slots_.empty()) return nullptr;
    ListedItem* const first = slots_[Find(key)].first;
    return first ? static_cast<Item*>(first) : nullptr;
  }

  // The first item of that name, in list order, that `pred` accepts; or null.
  template <class Pred>
  Item* FirstWhere(std::string_view name, Pred pred) const {
    if (slots_.empty()) return nullptr;
    ListedItem* const first = slots_[Find(NameKey::Of(name))].first;
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
    uint64_t words[3] = {};  // the NameKey's
    ListedItem* first = nullptr;

    bool Holds(const NameKey& key) const {
      if (((words[0] ^ key.words[0]) | (words[1] ^ key.words[1]) | (words[2] ^ key.words[2])) != 0) return false;
      return !key.is_long() || first->listing_.key == key.name;
    }
    size_t home(size_t mask) const { return static_cast<size_t>(words[2] >> 32) & mask; }
  };
  static_assert(sizeof(Slot) == 32);

  static ListedItem::Listing& LinkOf(ListedItem* item) { return item->listing_; }
  // Up to 4/5 full: with the hash in the slot, a few more probes cost less than a table twice as
  // large costs in cache and TLB reach.
  static size_t CapacityFor(size_t names) {
    size_t capacity = 16;
    while (names * 5 > capacity * 4) capacity *= 2;
    return capacity;
  }

  // The slot of the name, or the free slot where it would go.
  size_t Find(const NameKey& key) const {
    for (size_t i = key.hash() & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (!slot.first || slot.Holds(key)) return i;
    }
  }

  void Rehash(size_t capacity) {
    std::vector<Slot, com::HugePageAllocator<Slot>> old = std::exchange(slots_, std::vector<Slot, com::HugePageAllocator<Slot>>(capacity));
    mask_ = capacity - 1;
    for (const Slot& slot : old) {
      if (!slot.first) continue;
      size_t i = slot.home(mask_);
      while (slots_[i].first) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }

  // Files `item` under its listing's key, at its place in list order among the items of the name.
  void File(ListedItem* item) {
    ListedItem::Listing& link = item->listing_;
    if ((used_ + 1) * 5 > slots_.size() * 4) Rehash(CapacityFor(used_ + 1));
    const NameKey key = NameKey::Of(link.key);
    Slot& slot = slots_[Find(key)];
    if (!slot.first) {
      slot.first = item;
      std::memcpy(slot.words, key.words, sizeof slot.words);
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
    const size_t at = Find(NameKey::Of(link.key));
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
      const size_t home = slots_[j].home(mask_);
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
