// The slot pools behind pooled objects: slot sizes, chunk reuse and return, objects released
// after their owner and from other threads, and (under AddressSanitizer) poisoned free slots.
#include "platform/com/object_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/object.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

using com::ComPtr;
using com::pool::SlotPool;

struct IThing : IUnknown {
  static constexpr IID iid = com::MakeGuid("{22222222-0000-0000-0000-000000000001}");
  virtual LONG STDMETHODCALLTYPE Value() = 0;
};

std::atomic<int> g_alive{0};  // objects die on several threads at once

// A pooled class with a payload that makes its size odd-looking.
class CThing : public com::Implements<IThing> {
 public:
  static constexpr bool kPooledAllocation = true;
  explicit CThing(LONG value = 0) : value_(value) { ++g_alive; }
  void FinalRelease() { --g_alive; }
  LONG STDMETHODCALLTYPE Value() override { return value_; }

 private:
  LONG value_;
  char payload_[450] = {};
};

class CHeapThing : public com::Implements<IThing> {
 public:
  LONG STDMETHODCALLTYPE Value() override { return 7; }
};

static_assert(com::PooledClass<CThing>);
static_assert(!com::PooledClass<CHeapThing>);

SlotPool& ThingPool() { return com::pool::PoolFor(sizeof(com::Object<CThing>)); }

std::vector<ComPtr<IThing>> MakeThings(size_t n) {
  std::vector<ComPtr<IThing>> out;
  for (size_t i = 0; i < n; ++i) {
    auto made = com::CreateObject<CThing>(static_cast<LONG>(i));
    EXPECT_TRUE(made.ok());
    out.push_back(ComPtr<IThing>(made->get()));
  }
  return out;
}

class ObjectPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { g_alive = 0; }
  void TearDown() override {
    EXPECT_EQ(g_alive.load(), 0);
    EXPECT_EQ(com::ThisModule().LockCount(), 0);
    EXPECT_LE(ThingPool().chunk_count(), 1u);  // every object gone: at most the kept chunk
  }
};

TEST(ObjectPoolSizeTest, SlotsAreOddMultiplesOfSixteenBytes) {
  struct Case {
    size_t size, slot;
  } cases[] = {{1, 16}, {16, 16}, {17, 48}, {48, 48}, {49, 80}, {456, 464}, {464, 464}, {512, 528}, {4080, 4080}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    SlotPool& pool = com::pool::PoolFor(c.size);
    EXPECT_EQ(pool.slot_bytes(), c.slot);
    EXPECT_EQ(pool.slot_bytes() / com::pool::kSlotAlign % 2, 1u);
  }
}

TEST_F(ObjectPoolTest, PooledObjectsAreDenseAlignedAndDistinct) {
  auto things = MakeThings(100);
  std::set<uintptr_t> addresses;
  for (size_t i = 0; i < things.size(); ++i) {
    EXPECT_EQ(things[i]->Value(), static_cast<LONG>(i));
    const auto at = reinterpret_cast<uintptr_t>(static_cast<com::Object<CThing>*>(static_cast<CThing*>(things[i].get())));
    EXPECT_EQ(at % com::pool::kSlotAlign, 0u);
    EXPECT_EQ(com::pool::SlotPool::PoolOf(reinterpret_cast<void*>(at)), &ThingPool());
    addresses.insert(at);
  }
  EXPECT_EQ(addresses.size(), things.size());
  // 100 objects of one class fill one stretch of one chunk.
  EXPECT_LT(*addresses.rbegin() - *addresses.begin(), com::pool::kChunkBytes);
  EXPECT_EQ(g_alive.load(), 100);
}

TEST_F(ObjectPoolTest, UnpooledClassesStayOnTheHeap) {
  auto made = com::CreateObject<CHeapThing>();
  ASSERT_TRUE(made.ok());
  EXPECT_EQ((*made)->Value(), 7);
  EXPECT_EQ(com::ThisModule().LockCount(), 1);
}

TEST_F(ObjectPoolTest, ObjectsOutliveTheirOwnerAndDieOnTheirLastRelease) {
  ComPtr<IThing> kept;
  {
    auto owner = MakeThings(10);
    kept = owner[3];
  }
  EXPECT_EQ(g_alive.load(), 1);
  EXPECT_EQ(kept->Value(), 3);
  kept = nullptr;
  EXPECT_EQ(g_alive.load(), 0);
}

// Objects made on this thread, released by others: the last Release of a COM object may come
// from any thread that holds it.
TEST_F(ObjectPoolTest, ObjectsReleasedOnOtherThreads) {
  constexpr size_t kThreads = 4, kEach = 3000;  // more than one chunk in all
  std::vector<std::vector<ComPtr<IThing>>> batches;
  for (size_t t = 0; t < kThreads; ++t) batches.push_back(MakeThings(kEach));
  EXPECT_GE(ThingPool().chunk_count(), 2u);
  std::vector<std::thread> threads;
  for (auto& batch : batches)
    threads.emplace_back([&batch] {
      // Interleaved with making and releasing objects of their own.
      for (size_t i = 0; i < batch.size(); ++i) {
        auto own = com::CreateObject<CThing>(-1);
        ASSERT_TRUE(own.ok());
        batch[i] = nullptr;
      }
    });
  for (std::thread& t : threads) t.join();
}

TEST_F(ObjectPoolTest, FreedSlotsAreReusedAndEmptyChunksReturned) {
  const size_t per_chunk = com::pool::kChunkBytes / ThingPool().slot_bytes();
  auto first = MakeThings(per_chunk * 2);  // at least two chunks
  EXPECT_GE(ThingPool().chunk_count(), 2u);
  void* freed = static_cast<com::Object<CThing>*>(static_cast<CThing*>(first[5].get()));
  first[5] = nullptr;
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_TRUE(__asan_address_is_poisoned(freed));
#endif
  auto again = MakeThings(1);
  EXPECT_EQ(static_cast<void*>(static_cast<com::Object<CThing>*>(static_cast<CThing*>(again[0].get()))), freed);
  first.clear();
  again.clear();
  EXPECT_EQ(ThingPool().chunk_count(), 1u);  // one empty chunk is kept for the next objects
}

// The chunk policy on a pool of its own: kept, returned, and everything returned once closed.
TEST(SlotPoolTest, KeepsOneEmptyChunkUntilClosed) {
  SlotPool pool(208);
  const size_t per_chunk = com::pool::kChunkBytes / pool.slot_bytes();
  std::vector<void*> slots;
  for (size_t i = 0; i < per_chunk * 3; ++i) {
    slots.push_back(pool.Allocate(200));
    ASSERT_NE(slots.back(), nullptr);
    static_cast<char*>(slots.back())[199] = 1;
  }
  EXPECT_EQ(pool.chunk_count(), 4u);  // the header takes room: three chunks' worth needs a fourth
  for (void* p : slots) pool.Free(p);
  EXPECT_EQ(pool.chunk_count(), 1u);
  void* reused = pool.Allocate(200);
  EXPECT_EQ(pool.chunk_count(), 1u);
  pool.Close();
  EXPECT_EQ(pool.chunk_count(), 1u);  // a chunk in use is never returned
  pool.Free(reused);
  EXPECT_EQ(pool.chunk_count(), 0u);
}

}  // namespace
