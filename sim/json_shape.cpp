// SPDX-License-Identifier: GPL-2.0-or-later
#include "json_shape.h"

#include <nlohmann/json.hpp>
#include <unordered_set>
#include <vector>

namespace raid::sim {
namespace {

using nlohmann::json;

// Follows the parse as events, keeping only the open objects and arrays: a long list costs no
// more per entry than a short one.
class ShapeCheck final : public json::json_sax_t {
 public:
  const std::string& error() const { return error_; }

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(json::number_integer_t) override { return Value(); }
  bool number_unsigned(json::number_unsigned_t) override { return Value(); }
  bool number_float(json::number_float_t, const json::string_t&) override { return Value(); }
  bool string(json::string_t&) override { return Value(); }
  bool binary(json::binary_t&) override { return Value(); }

  bool start_object(std::size_t) override { return Open(false); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(json::string_t& key) override {
    Container& object = open_.back();
    object.key = key;
    if (!object.keys.insert(key).second) return Fail("given twice in one object");
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const json::exception& e) override {
    error_ = std::string("not valid JSON: ") + e.what();
    return false;
  }

 private:
  struct Container {
    bool array = false;
    std::size_t elements = 0;              // arrays: how many have started
    std::string key;                       // objects: the key of the current value
    std::unordered_set<std::string> keys;  // objects: every key so far
  };

  bool Value() {
    if (!open_.empty() && open_.back().array) ++open_.back().elements;
    return true;
  }
  bool Open(bool array) {
    Value();
    if (open_.size() == kMaxJsonDepth) {
      return Fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    open_.emplace_back().array = array;
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }
  bool Fail(const std::string& what) {
    error_ = Path() + ": " + what;
    return false;
  }
  // Where the current value sits: "drives[1].members[0].model".
  std::string Path() const {
    std::string path;
    for (const Container& open : open_) {
      if (open.array) {
        path += "[" + std::to_string(open.elements - 1) + "]";
      } else {
        path += (path.empty() ? "" : ".") + open.key;
      }
    }
    return path;
  }

  std::vector<Container> open_;
  std::string error_;
};

}  // namespace

std::optional<std::string> CheckJsonShape(std::string_view text) {
  ShapeCheck check;
  if (json::sax_parse(text.begin(), text.end(), &check)) return std::nullopt;
  return check.error();
}

}  // namespace raid::sim
