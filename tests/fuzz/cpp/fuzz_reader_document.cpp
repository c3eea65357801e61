// The reader on arbitrary bytes, with the process heap (every block exactly
// sized, so the sanitizer sees any access outside) and with the pool that
// loads lays over a buffer of parse_buffer_size bytes. Both must give what
// the reference reader predicts: the same records, or the same failure with
// its message and position. Positions never pass the input's end and, for
// valid UTF-8, never fall inside a character; the pool has every chunk back
// afterwards. A third run on a heap that refuses to grow any block must
// either read as the others or fail for memory with every block given back.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reader/document.hpp"
#include "reader/pool.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/json.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

using fuzz::expect;

// Compares the subtree at `v` with `want`; returns its record count.
size_t compare(const JsonValue* v, const oracle::Value& want, const char* how) {
  const uint8_t t = v->type_code();
  expect(t == want.tag, "%s: tag %u where %u was expected", how, t, want.tag);
  expect((v->tag & 0xE0) == 0, "%s: tag bits 5-7 set (%llx)", how, static_cast<unsigned long long>(v->tag));
  switch (t) {
    case tag::Null:
    case tag::False:
    case tag::True:
      expect(v->length() == 0, "%s: literal with length bits", how);
      return 1;
    case tag::Unsigned:
    case tag::Signed:
    case tag::Real:
      expect(v->length() == 0, "%s: number with length bits", how);
      expect(v->u64 == want.payload, "%s: number %016llx where %016llx (%.17g) was expected", how,
             static_cast<unsigned long long>(v->u64), static_cast<unsigned long long>(want.payload),
             std::bit_cast<double>(want.payload));
      return 1;
    case tag::String:
      if (v->length() != want.text.size() || std::memcmp(v->text, want.text.data(), want.text.size()) != 0)
        fuzz::fail("%s: string '%s' where '%s' was expected", how, fuzz::printable(v->text, v->length()).c_str(),
                   fuzz::printable(want.text).c_str());
      return 1;
    default: {
      const size_t members = t == tag::Object ? want.children.size() / 2 : want.children.size();
      expect(v->length() == members, "%s: container of %llu where %zu were expected", how,
             static_cast<unsigned long long>(v->length()), members);
      size_t records = 1;
      for (const oracle::Value& child : want.children) records += compare(v + records, child, how);
      expect(v->distance == records * sizeof(JsonValue), "%s: container distance %llu for %zu records", how,
             static_cast<unsigned long long>(v->distance), records);
      return records;
    }
  }
}

void judge(const JsonDocument* document, const DecodeError& error, const uint8_t* data, size_t size, bool ok,
           const oracle::Value& root, const oracle::Failure& failure, const char* how) {
  if (document == nullptr) {
    expect(error.position <= size, "%s: failure position %zu past the end (%zu)", how, error.position, size);
    expect(error.position == size || (data[error.position] & 0xC0) != 0x80 || !oracle::utf8_valid(data, size),
           "%s: failure position %zu inside a character", how, error.position);
    expect(!ok, "%s: rejected (%s at %zu) what the reference reads", how, error.message, error.position);
    expect(error.code == failure.code && std::strcmp(error.message, failure.message) == 0 &&
               error.position == failure.position,
           "%s: failure %u '%s' at %zu where %u '%s' at %zu was expected", how, static_cast<unsigned>(error.code),
           error.message, error.position, static_cast<unsigned>(failure.code), failure.message, failure.position);
    return;
  }
  expect(ok, "%s: accepted what the reference rejects (%s at %zu)", how, failure.message, failure.position);
  expect(error.code == static_cast<ReadErrorCode>(99), "%s: failure record touched on success", how);
  expect(document->root == reinterpret_cast<const JsonValue*>(document) + 4, "%s: root not after the header", how);
  expect(document->bytes_read == size, "%s: %zu bytes read of %zu", how, document->bytes_read, size);
  const size_t records = compare(document->root, root, how);
  expect(document->value_count == records, "%s: value count %zu for %zu records", how, document->value_count,
         records);
}

// The process heap, counting live blocks; growth always fails.
struct NoGrowthHeap {
  long live = 0;

  ReaderAllocator allocator() {
    return {[](void* context, size_t size) -> void* {
              void* block = std::malloc(size);
              static_cast<NoGrowthHeap*>(context)->live += block != nullptr;
              return block;
            },
            [](void*, void*, size_t, size_t) -> void* { return nullptr; },
            [](void* context, void* block) {
              static_cast<NoGrowthHeap*>(context)->live -= block != nullptr;
              std::free(block);
            },
            this};
  }
};

// Every chunk of the pool is free again and merged into one.
bool pool_is_whole(const ReaderAllocator& allocator) {
  const auto* pool = static_cast<const PoolAllocator*>(allocator.context);
  const PoolChunk* free = pool->free_list;
  return free != nullptr && free->next == nullptr && free->size == pool->size - sizeof(PoolAllocator);
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  oracle::JsonReader reference(data, size);
  oracle::Value root;
  const bool ok = reference.read_document(root);

  // The input in a block of exactly its size.
  const fuzz::ExactBlock input(data, size);
  {
    DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
    JsonDocument* document = read_document(input.data(), size, nullptr, &error);
    judge(document, error, data, size, ok, root, reference.failure, "heap");
    release_document(document);
  }
  {
    // A document that needs more records than the first estimate fails for
    // memory, at a character, and gives every block back; any other reads
    // as before.
    NoGrowthHeap heap;
    const ReaderAllocator allocator = heap.allocator();
    DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
    JsonDocument* document = read_document(input.data(), size, &allocator, &error);
    if (document == nullptr && error.code == ReadErrorCode::OutOfMemory) {
      fuzz::expect(std::strcmp(error.message, "memory allocation failed") == 0 && error.position < size &&
                       ((data[error.position] & 0xC0) != 0x80 || !oracle::utf8_valid(data, size)),
                   "no growth: '%s' at %zu", error.message, error.position);
      fuzz::expect(heap.live == 0, "no growth: %ld blocks left after failing for memory", heap.live);
    } else {
      judge(document, error, data, size, ok, root, reference.failure, "no growth");
      release_document(document);
      fuzz::expect(heap.live == 0, "no growth: %ld blocks left after release", heap.live);
    }
  }
  {
    const size_t bytes = parse_buffer_size(size);
    const fuzz::ExactBlock buffer(bytes);
    ReaderAllocator pool;
    fuzz::expect(PoolAllocator::init(&pool, buffer.data(), bytes), "no pool over %zu bytes", bytes);
    DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
    JsonDocument* document = read_document(input.data(), size, &pool, &error);
    judge(document, error, data, size, ok, root, reference.failure, "pool");
    release_document(document);
    fuzz::expect(pool_is_whole(pool), "pool: blocks left taken after the document was released");
  }
  return 0;
}
