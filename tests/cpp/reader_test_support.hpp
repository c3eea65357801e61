// Helpers shared by the reader's tests: a builder that writes what it is
// handed as one canonical line of words, and reading a text into it from
// memory of exactly the text's size.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.hpp"
#include "tests/cpp/test_scale.hpp"

namespace vellum::test {

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

// One word per value, in document order: n f t u<v> i<v> d<v> s'text'
// [count {count (an object counts its members). A string token that claims
// to be ASCII while holding a byte above 0x7F shows as !ascii!.
class DescribeBuilder {
 public:
  std::string words;

  bool null_value() { return word("n"); }
  bool boolean(bool v) { return word(v ? "t" : "f"); }
  bool unsigned_int(uint64_t v) { return number("u%llu", static_cast<unsigned long long>(v)); }
  bool signed_int(int64_t v) { return number("i%lld", static_cast<long long>(v)); }
  bool real(double v) { return number("d%.17g", v); }
  bool string(const StringToken& s) { return text(s); }
  bool key(const StringToken& s) { return text(s); }
  bool open_array() { return open('['); }
  bool open_object() { return open('{'); }
  bool close_array() { return close(1); }
  bool close_object() { return close(2); }

 private:
  struct Open {
    size_t at;     // where the container's word starts
    size_t items;  // values and keys read directly into it
  };
  std::vector<Open> open_;

  void counted() {
    if (!open_.empty()) ++open_.back().items;
  }
  bool word(const char* w) {
    counted();
    if (!words.empty()) words += ' ';
    words += w;
    return true;
  }
  template <class T>
  bool number(const char* format, T v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return word(buf);
  }
  bool text(const StringToken& s) {
    std::string w = "s'";
    append_escaped(w, s.text, s.length);
    w += '\'';
    if (s.ascii)
      for (size_t i = 0; i < s.length; ++i)
        if (s.text[i] >= 0x80) w += "!ascii!";
    return word(w.c_str());
  }
  bool open(char bracket) {
    const char w[2] = {bracket, 0};
    word(w);
    open_.push_back({words.size() - 1, 0});
    return true;
  }
  bool close(size_t per_member) {
    const Open o = open_.back();
    open_.pop_back();
    words.insert(o.at + 1, std::to_string(o.items / per_member));
    return true;
  }
};

// What reading one text came to.
struct ReadResult {
  bool ok = false;
  std::string words;  // the values, when ok
  DecodeError error{};
};

// Memory for unescaped text from the process heap.
inline TextBuffer::Memory heap_memory() {
  return {[](void* block, size_t size) { return std::realloc(block, size); }, [](void* block) { std::free(block); }};
}

// Reads `text` with `builder`, the text and its zero byte in a block of
// exactly their size, so that any read past them shows under the address
// sanitizer.
template <class Builder>
bool read_exact(std::string_view text, Builder& builder, DecodeError& error,
                TextBuffer::Memory memory = heap_memory()) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size() + 1]);
  std::memcpy(exact.get(), text.data(), text.size());
  exact[text.size()] = 0;
  const ReaderInput input{exact.get(), exact.get() + text.size(), exact.get() + text.size() + 1, &error};
  TextBuffer buffer(memory);
  return read_json(input, builder, buffer);
}

inline ReadResult read_text(std::string_view text, TextBuffer::Memory memory = heap_memory()) {
  ReadResult r;
  r.error = {static_cast<ReadErrorCode>(99), "untouched", 12345};
  DescribeBuilder builder;
  r.ok = read_exact(text, builder, r.error, memory);
  if (r.ok) r.words = std::move(builder.words);
  return r;
}

}  // namespace vellum::test
