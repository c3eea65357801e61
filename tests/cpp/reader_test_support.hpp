// Helpers shared by the reader's tests: reading into owned results, a
// canonical text form of the records, and allocators that count or fail.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "reader/document.hpp"
#include "tests/cpp/test_scale.hpp"

namespace vellum::test {

struct DocumentDeleter {
  void operator()(JsonDocument* d) const { release_document(d); }
};
using DocumentPtr = std::unique_ptr<JsonDocument, DocumentDeleter>;

struct ReadResult {
  DocumentPtr document;
  DecodeError error{};
  bool ok() const { return document != nullptr; }
};

// The input sits in a block of exactly its size, so reading past it shows
// under the address sanitizer.
inline ReadResult read_text(std::string_view text, const ReaderAllocator* allocator = nullptr) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size() + 1]);
  std::memcpy(exact.get(), text.data(), text.size());
  ReadResult r;
  r.error = {static_cast<ReadErrorCode>(99), "untouched", 12345};
  r.document.reset(read_document(exact.get(), text.size(), allocator, &r.error));
  return r;
}

inline void append_escaped(std::string& out, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '\'') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
}

// One word per record: n f t u<v> i<v> d<v> s'text' [count:payload {count:payload
// Also checks that the tag word's unused bits are clear.
inline std::string describe(const JsonDocument* doc) {
  std::string out;
  for (size_t i = 0; i < doc->value_count; ++i) {
    const JsonValue& v = doc->root[i];
    if (!out.empty()) out += ' ';
    const uint8_t t = v.type_code();
    const bool scalar_with_length = t != tag::String && t != tag::Array && t != tag::Object;
    if ((t & 0xE0) != 0 || (scalar_with_length && v.length() != 0)) out += "!bad-tag!";
    char buf[64];
    switch (t) {
      case tag::Null: out += 'n'; break;
      case tag::False: out += 'f'; break;
      case tag::True: out += 't'; break;
      case tag::Unsigned:
        std::snprintf(buf, sizeof buf, "u%llu", static_cast<unsigned long long>(v.u64));
        out += buf;
        break;
      case tag::Signed:
        std::snprintf(buf, sizeof buf, "i%lld", static_cast<long long>(v.i64));
        out += buf;
        break;
      case tag::Real:
        std::snprintf(buf, sizeof buf, "d%.17g", v.f64);
        out += buf;
        break;
      case tag::String:
        out += "s'";
        append_escaped(out, v.text, v.length());
        out += '\'';
        break;
      case tag::Array:
      case tag::Object:
        std::snprintf(buf, sizeof buf, "%c%llu:%llu", t == tag::Array ? '[' : '{',
                      static_cast<unsigned long long>(v.length()),
                      static_cast<unsigned long long>(v.distance));
        out += buf;
        break;
      default:
        std::snprintf(buf, sizeof buf, "?%u", t);
        out += buf;
    }
  }
  return out;
}

// The process heap, with every live block tracked, and optional failures:
// the allocation numbered `fail_allocation` (1-based) and every reallocate
// after `reallocations_allowed` return null.
struct TrackingHeap {
  std::set<void*> live;
  std::vector<size_t> requested;  // sizes passed to allocate, in order
  int allocations = 0;
  int fail_allocation = 0;
  int reallocations = 0;
  int reallocations_allowed = 1 << 30;

  ReaderAllocator allocator() {
    return {[](void* c, size_t size) -> void* {
              auto* h = static_cast<TrackingHeap*>(c);
              h->requested.push_back(size);
              if (++h->allocations == h->fail_allocation) return nullptr;
              void* p = std::malloc(size);
              h->live.insert(p);
              return p;
            },
            [](void* c, void* block, size_t, size_t new_size) -> void* {
              auto* h = static_cast<TrackingHeap*>(c);
              if (++h->reallocations > h->reallocations_allowed) return nullptr;
              void* p = std::realloc(block, new_size);
              if (p != nullptr) {
                h->live.erase(block);
                h->live.insert(p);
              }
              return p;
            },
            [](void* c, void* block) {
              auto* h = static_cast<TrackingHeap*>(c);
              h->live.erase(block);
              std::free(block);
            },
            this};
  }
};

}  // namespace vellum::test
