// Dense storage for the objects a process makes by the hundred thousand (the items of a loaded
// collection): slots of one size carved from 2 MiB chunks, instead of one heap block each.
//
// Why: a collection of 100,000 items spread over the general heap, between the strings and index
// nodes made with them, costs a page (and a TLB entry) per item touched; packed into chunks that
// are backed by huge pages, the same items cover a few dozen pages, and making one is a pointer
// bump. A class opts in by declaring `static constexpr bool kPooledAllocation = true;`;
// com::Object then takes its memory here (object.h). Nothing else changes for the class.
//
// Contract:
// - Slots are 16-byte aligned, and their sizes are odd multiples of 16 bytes up to kMaxSlotBytes.
//   Odd, because a stride of a power of two times 64 bytes (a 512-byte object) would put the
//   first line of every object into the same few cache sets, and a look-up that touches the
//   first line of thousands of items would evict its own lines.
// - Allocate and Free may be called from any thread: a COM object dies on its last Release, which
//   may come from another thread than the one that made it, and after its collection is gone.
//   Each size class has its own lock.
// - A chunk is returned to the system when its last slot is freed, except that each size class
//   keeps one empty chunk for the next allocations (a collection that is released and loaded
//   again does not map and fault in its memory twice). When the library is unloaded (or the
//   process exits) the kept chunks are returned, and from then on a chunk is returned as soon as
//   it is empty. Chunks that still hold objects are never returned: under the module's rules
//   (module.h) a library with live objects is not unloaded.
// - The first chunk of a size class uses ordinary pages, so a few items cost a few pages; later
//   chunks ask for huge pages (MADV_HUGEPAGE; the kernel may refuse, which only costs speed).
// - Under AddressSanitizer, free slots and the unused tail of a slot are poisoned, so a use of a
//   released object is reported as one.
//
// The pools are per library (the symbols are hidden, like com::ThisModule), and are constant-
// initialised and trivially destructible, so an object released during static destruction still
// finds its pool.
//
// HugePageAllocator, below, gives the large arrays that go with such a population (a name index
// over 100,000 items) the same huge-page backing.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define QVA_POOL_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define QVA_POOL_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
// The leak checker scans the heap, not our mappings: what live objects own must stay reachable.
#define QVA_POOL_MAPPED(addr, size) __lsan_register_root_region((addr), (size))
#define QVA_POOL_UNMAPPED(addr, size) __lsan_unregister_root_region((addr), (size))
#else
#define QVA_POOL_POISON(addr, size) ((void)(addr), (void)(size))
#define QVA_POOL_UNPOISON(addr, size) ((void)(addr), (void)(size))
#define QVA_POOL_MAPPED(addr, size) ((void)(addr), (void)(size))
#define QVA_POOL_UNMAPPED(addr, size) ((void)(addr), (void)(size))
#endif

namespace com {

// Does class T take its memory from the slot pools?
template <class T>
concept PooledClass = requires {
  requires T::kPooledAllocation;
};

namespace pool {

inline constexpr size_t kChunkBytes = size_t{2} << 20;  // one huge page; chunks are aligned to it
inline constexpr size_t kSlotAlign = 16;
inline constexpr size_t kMaxSlotBytes = 4096;
inline constexpr size_t kSizeClasses = kMaxSlotBytes / (2 * kSlotAlign);

// The size class of an object of `size` bytes: its slot size is (2 * class + 1) * kSlotAlign.
constexpr size_t SizeClassOf(size_t size) { return (size + kSlotAlign - 1) / kSlotAlign / 2; }

// The slots of one size. Counts are read under the lock; the accessors for tests take it.
class SlotPool {
 public:
  constexpr explicit SlotPool(size_t slot_bytes) : slot_bytes_(slot_bytes) {}
  SlotPool(const SlotPool&) = delete;
  SlotPool& operator=(const SlotPool&) = delete;

  // A slot of at least `size` bytes (size <= slot size), or null when no memory can be mapped.
  void* Allocate(size_t size) noexcept {
    Chunk* chunk = nullptr;
    uint32_t index = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!available_ && !AddChunk()) return nullptr;
      chunk = available_;
      if (chunk->live++ == 0) --empty_;
      index = chunk->free_count ? chunk->FreeStack()[--chunk->free_count] : chunk->fresh++;
      if (chunk->free_count == 0 && chunk->fresh == chunk->capacity) Unlink(chunk);
    }
    void* slot = chunk->Slot(index, slot_bytes_);
    QVA_POOL_UNPOISON(slot, size);
    return slot;
  }

  // Returns a slot of this pool.
  void Free(void* slot) noexcept {
    Chunk* chunk = ChunkOf(slot);
    QVA_POOL_POISON(slot, slot_bytes_);
    Chunk* unmap = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!chunk->listed) LinkFront(chunk);
      chunk->FreeStack()[chunk->free_count++] = chunk->IndexOf(slot, slot_bytes_);
      if (--chunk->live == 0) {
        if (closing_ || empty_ > 0) {
          Unlink(chunk);
          --chunks_;
          unmap = chunk;
        } else {
          ++empty_;
        }
      }
    }
    if (unmap) Unmap(unmap);
  }

  // Returns every empty chunk, and every chunk that empties from now on (at unload).
  void Close() noexcept {
    Chunk* empty = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
      for (Chunk* c = available_; c;) {
        Chunk* next = c->next;
        if (c->live == 0) {
          Unlink(c);
          --chunks_;
          --empty_;
          c->next = empty;
          empty = c;
        }
        c = next;
      }
    }
    while (empty) Unmap(std::exchange(empty, empty->next));
  }

  size_t slot_bytes() const { return slot_bytes_; }
  size_t chunk_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
  }

  // The pool a slot came from.
  static SlotPool* PoolOf(void* slot) noexcept { return ChunkOf(slot)->pool; }

 private:
  // The header at the start of each chunk, followed by the stack of free slot indexes; the slots
  // start at the next cache line.
  struct Chunk {
    SlotPool* pool;
    Chunk* prev;
    Chunk* next;
    char* slots;
    uint32_t capacity;    // slots in the chunk
    uint32_t fresh;       // slots [fresh, capacity) were never handed out
    uint32_t live;        // slots handed out and not freed
    uint32_t free_count;  // entries on the free stack
    bool listed;          // in the pool's list of chunks with a free slot

    uint32_t* FreeStack() { return reinterpret_cast<uint32_t*>(this + 1); }
    void* Slot(uint32_t index, size_t slot_bytes) const { return slots + size_t{index} * slot_bytes; }
    uint32_t IndexOf(void* slot, size_t slot_bytes) const {
      return static_cast<uint32_t>((static_cast<char*>(slot) - slots) / static_cast<std::ptrdiff_t>(slot_bytes));
    }
  };

  static Chunk* ChunkOf(void* slot) noexcept {
    return reinterpret_cast<Chunk*>(reinterpret_cast<uintptr_t>(slot) & ~(uintptr_t{kChunkBytes} - 1));
  }
  static size_t HeaderBytes(size_t capacity) {
    return (sizeof(Chunk) + capacity * sizeof(uint32_t) + 63) / 64 * 64;
  }

  void LinkFront(Chunk* c) {
    c->prev = nullptr;
    c->next = available_;
    if (available_) available_->prev = c;
    available_ = c;
    c->listed = true;
  }
  void Unlink(Chunk* c) {
    if (c->prev) c->prev->next = c->next;
    else available_ = c->next;
    if (c->next) c->next->prev = c->prev;
    c->prev = c->next = nullptr;
    c->listed = false;
  }

  // Maps a chunk aligned to its size (over-map, then trim both ends) and lists it as empty.
  bool AddChunk() {
    void* raw = mmap(nullptr, 2 * kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return false;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kChunkBytes - 1) & ~(uintptr_t{kChunkBytes} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    if (const uintptr_t tail = start + 2 * kChunkBytes - (aligned + kChunkBytes); tail > 0)
      munmap(reinterpret_cast<void*>(aligned + kChunkBytes), tail);
    if (chunks_ > 0) madvise(reinterpret_cast<void*>(aligned), kChunkBytes, MADV_HUGEPAGE);

    size_t capacity = (kChunkBytes - sizeof(Chunk)) / (slot_bytes_ + sizeof(uint32_t));
    while (HeaderBytes(capacity) + capacity * slot_bytes_ > kChunkBytes) --capacity;
    auto* chunk = reinterpret_cast<Chunk*>(aligned);
    chunk->pool = this;
    chunk->slots = reinterpret_cast<char*>(aligned) + HeaderBytes(capacity);
    chunk->capacity = static_cast<uint32_t>(capacity);
    chunk->fresh = chunk->live = chunk->free_count = 0;
    QVA_POOL_POISON(chunk->slots, capacity * slot_bytes_);
    QVA_POOL_MAPPED(chunk, kChunkBytes);
    LinkFront(chunk);
    ++chunks_;
    ++empty_;
    return true;
  }

  static void Unmap(Chunk* chunk) {
    QVA_POOL_UNMAPPED(chunk, kChunkBytes);
    QVA_POOL_UNPOISON(chunk, kChunkBytes);  // the address range may be mapped again for others
    munmap(chunk, kChunkBytes);
  }

  std::mutex mutex_;
  size_t slot_bytes_;
  Chunk* available_ = nullptr;  // chunks with a free slot, most recently freed into first
  size_t chunks_ = 0;
  size_t empty_ = 0;  // chunks without a live slot
  bool closing_ = false;
};

// One pool per size class of this library.
template <size_t... I>
struct SlotPoolSet {
  SlotPool pools[sizeof...(I)]{SlotPool((2 * I + 1) * kSlotAlign)...};
};
template <size_t... I>
constexpr SlotPoolSet<I...> MakeSlotPoolSet(std::index_sequence<I...>);
using SlotPools = decltype(MakeSlotPoolSet(std::make_index_sequence<kSizeClasses>()));

static_assert(std::is_trivially_destructible_v<SlotPools>, "the pools must outlive static destruction");
inline constinit SlotPools g_pools;

// Closes every pool when the library is unloaded or the process exits (see the contract).
struct PoolCloser {
  ~PoolCloser() {
    for (SlotPool& p : g_pools.pools) p.Close();
  }
};

// The pool of objects of `size` bytes.
inline SlotPool& PoolFor(size_t size) noexcept {
  static PoolCloser closer;  // made with the first pooled object, destroyed at unload
  return g_pools.pools[SizeClassOf(size)];
}

}  // namespace pool

// An allocator for the large arrays that go with a large population (the name index of a
// collection of 100,000 items): an array of 2 MiB or more is mapped on its own, aligned to and
// advised for huge pages, so that random access into it does not need a TLB entry per 4 KiB;
// smaller arrays come from the general heap.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < pool::kChunkBytes) return std::allocator<T>().allocate(n);
    const size_t mapped = Rounded(bytes);
    void* raw = mmap(nullptr, mapped + pool::kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + pool::kChunkBytes - 1) & ~(uintptr_t{pool::kChunkBytes} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    if (const uintptr_t tail = start + mapped + pool::kChunkBytes - (aligned + mapped); tail > 0)
      munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    madvise(reinterpret_cast<void*>(aligned), mapped, MADV_HUGEPAGE);
    return reinterpret_cast<T*>(aligned);
  }
  void deallocate(T* p, size_t n) noexcept {
    const size_t bytes = n * sizeof(T);
    if (bytes < pool::kChunkBytes) return std::allocator<T>().deallocate(p, n);
    munmap(p, Rounded(bytes));
  }
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }

 private:
  static size_t Rounded(size_t bytes) { return (bytes + pool::kChunkBytes - 1) & ~(pool::kChunkBytes - 1); }
};

// Memory for one object of `size` bytes (0 < size < pool::kMaxSlotBytes, alignment at most
// pool::kSlotAlign), or null.
inline void* AllocatePooled(size_t size) noexcept { return pool::PoolFor(size).Allocate(size); }
// Returns memory from AllocatePooled.
inline void FreePooled(void* p) noexcept {
  if (p) pool::SlotPool::PoolOf(p)->Free(p);
}

}  // namespace com
