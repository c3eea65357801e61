#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "reader/pool.hpp"
#include "tests/cpp/reader_test_support.hpp"

namespace vellum {
namespace {

struct Free {
  void operator()(void* p) const { std::free(p); }
};

// A pool over a malloc'ed (16-aligned) buffer, `offset` bytes into it.
struct Pool {
  std::unique_ptr<uint8_t, Free> buffer;
  ReaderAllocator a{};
  PoolAllocator* pool = nullptr;

  explicit Pool(size_t size, size_t offset = 0) : buffer(static_cast<uint8_t*>(std::malloc(size + offset))) {
    if (PoolAllocator::init(&a, buffer.get() + offset, size))
      pool = static_cast<PoolAllocator*>(a.context);
  }
  void* allocate(size_t n) { return a.allocate(a.context, n); }
  void* reallocate(void* p, size_t from, size_t to) { return a.reallocate(a.context, p, from, to); }
  void release(void* p) { a.release(a.context, p); }

  static uint64_t ChunkSize(void* block) {
    return reinterpret_cast<PoolChunk*>(static_cast<uint8_t*>(block) - 16)->size;
  }
  std::vector<std::pair<uintptr_t, uint64_t>> free_chunks() const {
    std::vector<std::pair<uintptr_t, uint64_t>> out;
    for (PoolChunk* c = pool->free_list; c != nullptr; c = c->next)
      out.emplace_back(reinterpret_cast<uintptr_t>(c), c->size);
    return out;
  }
  uintptr_t first_chunk() const { return reinterpret_cast<uintptr_t>(pool) + 16; }
  uintptr_t end() const { return reinterpret_cast<uintptr_t>(pool) + pool->size; }
};

TEST(ReaderPool, InitBoundaries) {
  {
    Pool p(63);
    EXPECT_EQ(p.pool, nullptr);
    ASSERT_NE(p.a.allocate, nullptr);
    EXPECT_EQ(p.a.allocate(p.a.context, 1), nullptr);
    EXPECT_EQ(p.a.reallocate(p.a.context, nullptr, 0, 1), nullptr);
    p.a.release(p.a.context, nullptr);
    EXPECT_EQ(p.a.context, nullptr);
  }
  {
    Pool p(64);
    ASSERT_NE(p.pool, nullptr);
    EXPECT_EQ(p.pool->size, 64u);
    EXPECT_EQ(p.free_chunks(), (std::vector<std::pair<uintptr_t, uint64_t>>{{p.first_chunk(), 48}}));
  }
  {
    // An unaligned buffer: the record moves up to 16, the size follows.
    Pool p(100, 8);
    ASSERT_NE(p.pool, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p.pool) % 16, 0u);
    EXPECT_EQ(p.pool->size, (100u - 8u) & ~15u);
  }
  {
    ReaderAllocator a{};
    alignas(16) uint8_t storage[128];
    EXPECT_FALSE(PoolAllocator::init(&a, nullptr, 128));
    EXPECT_EQ(a.allocate(a.context, 1), nullptr);
    EXPECT_TRUE(PoolAllocator::init(&a, storage, 128));
  }
}

TEST(ReaderPool, AllocateSizesAndLimits) {
  Pool p(1024);
  const uint64_t s = p.pool->size;
  EXPECT_EQ(p.allocate(s), nullptr);
  EXPECT_EQ(p.allocate(s - 16), nullptr);
  void* one = p.allocate(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(Pool::ChunkSize(one), 32u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(one), p.first_chunk() + 16);
  void* two = p.allocate(16);
  EXPECT_EQ(Pool::ChunkSize(two), 32u);
  void* three = p.allocate(17);
  EXPECT_EQ(Pool::ChunkSize(three), 48u);
  EXPECT_EQ(static_cast<uint8_t*>(two), static_cast<uint8_t*>(one) + 32);
  EXPECT_EQ(static_cast<uint8_t*>(three), static_cast<uint8_t*>(two) + 32);
  // The whole rest in one request.
  const uint64_t rest = p.free_chunks().at(0).second;
  void* all = p.allocate(rest - 16);
  ASSERT_NE(all, nullptr);
  EXPECT_TRUE(p.free_chunks().empty());
  EXPECT_EQ(p.allocate(1), nullptr);
}

TEST(ReaderPool, SplitRule) {
  // A free chunk of 80 bytes between two taken ones.
  Pool p(1024);
  void* a = p.allocate(16);
  void* hole = p.allocate(64);  // 80-byte chunk
  void* b = p.allocate(16);
  ASSERT_TRUE(a && hole && b);
  p.release(hole);
  ASSERT_EQ(p.free_chunks().front().second, 80u);
  // Exceeds the request by 16 bytes: handed out whole.
  void* whole = p.allocate(48);
  EXPECT_EQ(whole, hole);
  EXPECT_EQ(Pool::ChunkSize(whole), 80u);
  p.release(whole);
  // Exceeds it by 32: split, the remainder stays free in its place.
  void* split = p.allocate(32);
  EXPECT_EQ(split, hole);
  EXPECT_EQ(Pool::ChunkSize(split), 48u);
  const auto chunks = p.free_chunks();
  EXPECT_EQ(chunks.front(), std::make_pair(reinterpret_cast<uintptr_t>(hole) - 16 + 48, uint64_t{32}));
}

TEST(ReaderPool, ReleaseMergesInAnyOrder) {
  const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& order : orders) {
    for (bool fill : {false, true}) {
      Pool p(256);
      void* blocks[3] = {p.allocate(32), p.allocate(48), p.allocate(16)};
      void* filler = nullptr;
      if (fill) {
        // Occupy the rest, so that merging among the three is all there is.
        filler = p.allocate(p.free_chunks().at(0).second - 16);
        ASSERT_TRUE(p.free_chunks().empty());
      }
      for (int i : order) p.release(blocks[i]);
      const auto chunks = p.free_chunks();
      ASSERT_EQ(chunks.size(), 1u);
      EXPECT_EQ(chunks[0].first, p.first_chunk());
      EXPECT_EQ(chunks[0].second, fill ? 48u + 64u + 32u : p.pool->size - 16);
      if (filler) p.release(filler);
      EXPECT_EQ(p.free_chunks().size(), 1u);
    }
  }
}

TEST(ReaderPool, ReallocateGrowsInPlace) {
  Pool p(1024);
  auto* block = static_cast<uint8_t*>(p.allocate(100));
  std::memset(block, 0xAB, 100);
  auto* grown = static_cast<uint8_t*>(p.reallocate(block, 100, 500));
  EXPECT_EQ(grown, block);
  EXPECT_EQ(Pool::ChunkSize(grown), 512u + 16u);
  EXPECT_EQ(p.free_chunks().at(0).first, reinterpret_cast<uintptr_t>(block) - 16 + 528);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(grown[i], 0xAB);
  // Same rounded size: unchanged.
  EXPECT_EQ(p.reallocate(grown, 500, 510), grown);
  EXPECT_EQ(Pool::ChunkSize(grown), 528u);
  // Up to leaving exactly 32 bytes behind: not worth a chunk, absorbed.
  const uint64_t free_bytes = p.free_chunks().at(0).second;
  const size_t to = 512 + free_bytes - 32;
  EXPECT_EQ(p.reallocate(grown, 512, to), grown);
  EXPECT_TRUE(p.free_chunks().empty());
  EXPECT_EQ(Pool::ChunkSize(grown), 528u + free_bytes);
  // Within the absorbed slack, growth needs no neighbour.
  EXPECT_EQ(p.reallocate(grown, to, to + 16), grown);
}

TEST(ReaderPool, ReallocateMovesWhenBlocked) {
  Pool p(1024);
  auto* block = static_cast<uint8_t*>(p.allocate(64));
  void* wall = p.allocate(16);
  ASSERT_TRUE(block && wall);
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i);
  auto* moved = static_cast<uint8_t*>(p.reallocate(block, 64, 200));
  ASSERT_NE(moved, nullptr);
  EXPECT_NE(moved, block);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(moved[i], i);
  // The old chunk is free again, first in the list.
  EXPECT_EQ(p.free_chunks().front(), std::make_pair(reinterpret_cast<uintptr_t>(block) - 16, uint64_t{80}));
  // No room anywhere: null, and the block is untouched.
  EXPECT_EQ(p.reallocate(moved, 200, 2000), nullptr);
  EXPECT_EQ(p.reallocate(moved, 200, p.pool->size), nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(moved[i], i);
}

// Random traffic against the invariants: blocks keep their contents, free
// chunks ascend and never touch, and all chunks tile the pool.
TEST(ReaderPool, RandomTrafficKeepsInvariants) {
  std::mt19937_64 rng(5);
  for (size_t round = 0; round < test::scaled(20); ++round) {
    Pool p(8192 + 16 * (rng() % 64));
    std::map<uint8_t*, std::pair<size_t, uint8_t>> live;  // block -> (size, fill byte)
    for (int step = 0; step < 2000; ++step) {
      const int what = static_cast<int>(rng() % 3);
      if (what == 0 || live.empty()) {
        const size_t n = rng() % 600;
        auto* b = static_cast<uint8_t*>(p.allocate(n));
        if (b == nullptr) continue;
        const auto fill = static_cast<uint8_t>(rng());
        std::memset(b, fill, n);
        live[b] = {n, fill};
      } else {
        auto it = live.begin();
        std::advance(it, static_cast<long>(rng() % live.size()));
        auto [block, info] = *it;
        if (what == 1) {
          p.release(block);
          live.erase(it);
        } else {
          const size_t n = info.first + rng() % 800;
          auto* b = static_cast<uint8_t*>(p.reallocate(block, info.first, n));
          if (b == nullptr) continue;
          for (size_t i = 0; i < info.first; ++i) ASSERT_EQ(b[i], info.second);
          std::memset(b, info.second, n);
          live.erase(it);
          live[b] = {n, info.second};
        }
      }
      // Invariants.
      std::map<uintptr_t, std::pair<uint64_t, bool>> chunks;  // start -> (size, free)
      uintptr_t previous_end = 0;
      for (auto [start, size] : p.free_chunks()) {
        ASSERT_GT(start, previous_end) << "free chunks ascend and never touch";
        previous_end = start + size;
        chunks[start] = {size, true};
      }
      for (auto& [b, info] : live) {
        const auto start = reinterpret_cast<uintptr_t>(b) - 16;
        ASSERT_GE(Pool::ChunkSize(b), ((info.first + 15) & ~size_t{15}) + 16);
        chunks[start] = {Pool::ChunkSize(b), false};
      }
      uintptr_t at = p.first_chunk();
      for (auto& [start, c] : chunks) {
        ASSERT_EQ(start, at) << "chunks tile the pool";
        ASSERT_EQ(c.first % 16, 0u);
        at += c.first;
      }
      ASSERT_EQ(at, p.end());
    }
    for (auto& [b, info] : live) p.release(b);
    ASSERT_EQ(p.free_chunks().size(), 1u);
  }
}

}  // namespace
}  // namespace vellum
