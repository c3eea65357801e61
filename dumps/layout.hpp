// The two layouts of dumps' output. The serializer is written once against
// these operations and instantiated for each. A layout also carries the
// module's state of dumps down the recursion (state()), by reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dumps/output_buffer.hpp"

namespace vellum {

struct DumpsState;

// Reservation for a scalar token (number, literal, date-time, UUID).
inline constexpr size_t ScalarReserve = 128;

class CompactLayout {
 public:
  CompactLayout(OutputBuffer& out, DumpsState& state) : out_(out), state_(state) {}
  OutputBuffer& out() { return out_; }
  DumpsState& state() { return state_; }

  [[nodiscard]] bool open_array() { return open('['); }
  [[nodiscard]] bool open_object() { return open('{'); }
  [[nodiscard]] bool close_array() { return close(']'); }
  [[nodiscard]] bool close_object() { return close('}'); }
  [[nodiscard]] bool before_element(bool first) { return first || separator(','); }
  [[nodiscard]] bool before_key(bool first) { return first || separator(','); }
  [[nodiscard]] bool before_value() { return separator(':'); }
  void after_element() {}
  void after_value() {}
  [[nodiscard]] bool empty_array() { return empty("[]"); }
  [[nodiscard]] bool empty_object() { return empty("{}"); }

  // A run of scalar elements written straight at a pointer (numpy rows):
  // the most bytes put before one element, and putting them; the caller
  // has reserved the room and calls after_element once the run is done.
  size_t element_prefix_room() const { return 1; }
  uint8_t* put_element_prefix(uint8_t* p, bool first) const {
    *p = ',';
    return p + !first;
  }

 private:
  bool open(uint8_t bracket) {
    if (!out_.reserve(ScalarReserve)) return false;
    out_.write_byte(bracket);
    return true;
  }
  bool close(uint8_t bracket) { return separator(bracket); }
  [[gnu::always_inline]] bool separator(uint8_t byte) {
    if (!out_.reserve(2)) return false;
    out_.write_byte(byte);
    return true;
  }
  bool empty(const char (&text)[3]) {
    if (!out_.reserve(34)) return false;
    out_.write_bytes(text, 2);
    return true;
  }

  OutputBuffer& out_;
  DumpsState& state_;
};

class IndentLayout {
 public:
  IndentLayout(OutputBuffer& out, DumpsState& state) : out_(out), state_(state) {}
  OutputBuffer& out() { return out_; }
  DumpsState& state() { return state_; }

  [[nodiscard]] bool open_array() { return open('['); }
  [[nodiscard]] bool open_object() { return open('{'); }
  [[nodiscard]] bool close_array() { return close(']'); }
  [[nodiscard]] bool close_object() { return close('}'); }
  [[nodiscard]] bool before_element(bool first) { return line_start(first); }
  [[nodiscard]] bool before_key(bool first) { return line_start(first); }
  [[nodiscard]] bool before_value() {
    if (!out_.reserve(ScalarReserve)) return false;
    out_.write_bytes(": ", 2);
    return true;
  }
  void after_element() { has_value_ = true; }
  void after_value() { has_value_ = true; }
  [[nodiscard]] bool empty_array() { return empty("[]"); }
  [[nodiscard]] bool empty_object() { return empty("{}"); }

  // As CompactLayout's: the separator, a newline and the indentation.
  size_t element_prefix_room() const { return 2 * depth_ + 2; }
  uint8_t* put_element_prefix(uint8_t* p, bool first) const {
    *p = ',';
    p += !first;
    *p++ = '\n';
    std::memset(p, ' ', 2 * depth_);
    return p + 2 * depth_;
  }

 private:
  bool open(uint8_t bracket) {
    ++depth_;
    has_value_ = false;
    if (!out_.reserve(ScalarReserve)) return false;
    out_.write_byte(bracket);
    return true;
  }
  bool line_start(bool first) {
    if (!out_.reserve(2 * depth_ + 32)) return false;
    if (!first) out_.write_byte(',');
    newline_and_indent();
    return true;
  }
  bool close(uint8_t bracket) {
    --depth_;
    if (!out_.reserve(2 * (depth_ + 1) + 30)) return false;
    if (has_value_) newline_and_indent();
    out_.write_byte(bracket);
    return true;
  }
  void newline_and_indent() {
    out_.write_byte('\n');
    std::memset(out_.cursor(), ' ', 2 * depth_);
    out_.advance(2 * depth_);
  }
  bool empty(const char (&text)[3]) {
    if (!out_.reserve(34)) return false;
    out_.write_bytes(text, 2);
    return true;
  }

  OutputBuffer& out_;
  DumpsState& state_;
  size_t depth_ = 0;
  bool has_value_ = false;
};

}  // namespace vellum
