#include "reader/pool.hpp"

#include <algorithm>
#include <cstring>

namespace vellum {
namespace {

constexpr uint64_t Granule = 16;
constexpr uint64_t HeaderSize = sizeof(PoolChunk);
// A split leaves a free chunk of at least a header and one granule.
constexpr uint64_t MinSplit = 32;

constexpr uint64_t round_up(uint64_t n) { return (n + (Granule - 1)) & ~(Granule - 1); }

uint8_t* bytes(void* p) { return static_cast<uint8_t*>(p); }
PoolChunk* chunk_at(uint8_t* p) { return reinterpret_cast<PoolChunk*>(p); }
PoolChunk* chunk_of(void* block) { return chunk_at(bytes(block) - HeaderSize); }
uint8_t* end_of(PoolChunk* c) { return bytes(c) + c->size; }
PoolAllocator* pool_of(void* context) { return static_cast<PoolAllocator*>(context); }

void* fail_allocate(void*, size_t) { return nullptr; }
void* fail_reallocate(void*, void*, size_t, size_t) { return nullptr; }
void fail_release(void*, void*) {}

// First fit for a chunk of `need` bytes (header included), or null.
void* take_chunk(PoolAllocator* pool, uint64_t need) {
  PoolChunk** link = &pool->free_list;
  for (PoolChunk* c = *link; c != nullptr; link = &c->next, c = c->next) {
    if (c->size < need) continue;
    if (c->size - need >= MinSplit) {
      PoolChunk* rest = chunk_at(bytes(c) + need);
      rest->size = c->size - need;
      rest->next = c->next;
      *link = rest;
      c->size = need;
    } else {
      *link = c->next;
    }
    return bytes(c) + HeaderSize;
  }
  return nullptr;
}

}  // namespace

bool PoolAllocator::init(ReaderAllocator* allocator, void* buffer, size_t size) {
  *allocator = ReaderAllocator{fail_allocate, fail_reallocate, fail_release, nullptr};
  if (size < 64) return false;
  const uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t aligned = (start + (Granule - 1)) & ~uintptr_t{Granule - 1};
  if (aligned == 0) return false;
  auto* pool = reinterpret_cast<PoolAllocator*>(aligned);
  pool->size = (size - (aligned - start)) & ~(Granule - 1);
  PoolChunk* first = chunk_at(bytes(pool) + sizeof(PoolAllocator));
  first->size = pool->size - sizeof(PoolAllocator);
  first->next = nullptr;
  pool->free_list = first;
  *allocator = ReaderAllocator{allocate, reallocate, release, pool};
  return true;
}

void* PoolAllocator::allocate(void* context, size_t size) {
  PoolAllocator* pool = pool_of(context);
  if (size >= pool->size) return nullptr;
  return take_chunk(pool, round_up(size) + HeaderSize);
}

void PoolAllocator::release(void* context, void* block) {
  if (block == nullptr) return;
  PoolAllocator* pool = pool_of(context);
  PoolChunk* chunk = chunk_of(block);
  PoolChunk* prev = nullptr;
  PoolChunk* next = pool->free_list;
  while (next != nullptr && next < chunk) {
    prev = next;
    next = next->next;
  }
  chunk->next = next;
  if (next != nullptr && end_of(chunk) == bytes(next)) {
    chunk->size += next->size;
    chunk->next = next->next;
  }
  if (prev == nullptr) {
    pool->free_list = chunk;
  } else if (end_of(prev) == bytes(chunk)) {
    prev->size += chunk->size;
    prev->next = chunk->next;
  } else {
    prev->next = chunk;
  }
}

void* PoolAllocator::reallocate(void* context, void* block, size_t old_size, size_t new_size) {
  PoolAllocator* pool = pool_of(context);
  if (block == nullptr) return allocate(context, new_size);
  if (new_size >= pool->size) return nullptr;
  const uint64_t new_rounded = round_up(new_size);
  if (round_up(old_size) == new_rounded) return block;
  const uint64_t need = new_rounded + HeaderSize;

  PoolChunk* chunk = chunk_of(block);
  PoolChunk** link = &pool->free_list;
  PoolChunk* above = pool->free_list;
  while (above != nullptr && above < chunk) {
    link = &above->next;
    above = above->next;
  }
  if (above != nullptr && end_of(chunk) == bytes(above) && chunk->size + above->size >= need) {
    const uint64_t total = chunk->size + above->size;
    if (total - need > MinSplit) {
      PoolChunk* rest = chunk_at(bytes(chunk) + need);
      rest->size = total - need;
      rest->next = above->next;
      *link = rest;
      chunk->size = need;
    } else {
      *link = above->next;
      chunk->size = total;
    }
    return block;
  }
  // Already big enough (a chunk handed out whole has slack): moving would
  // gain nothing, and copying its whole usable size could overrun.
  if (chunk->size >= need) return block;

  void* moved = take_chunk(pool, need);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, chunk->size - HeaderSize);
  release(context, block);
  return moved;
}

size_t parse_buffer_size(size_t length) {
  // 12 bytes per input byte serve real documents with room to grow.
  const size_t usual = ((length / 2) * 24 + 4344) & ~size_t{4095};
  // The worst case: every container bracket a record of its own (at most
  // 1024 open at once) and every other value at least two bytes ("0,"), so
  // at most length / 2 + 1024 records, plus the header, the growth margin,
  // the input copy with its zero tail, and the pool's own records.
  const size_t records = length / 2 + 1024 + 4 + 8;
  const size_t worst = 16 * 4 + round_up(length + ZeroTail) + 16 * records + 64;
  return std::max(usual, worst);
}

}  // namespace vellum
