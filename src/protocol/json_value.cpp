#include "protocol/json_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/sort_keeping_last.h"
#include "protocol/json_writer.h"

namespace qm {

JsonNumber JsonNumber::from_unsigned(std::uint64_t value) {
  JsonNumber n;
  n.kind_ = Kind::Unsigned;
  n.u_ = value;
  return n;
}

JsonNumber JsonNumber::from_signed(std::int64_t value) {
  if (value >= 0) return from_unsigned(static_cast<std::uint64_t>(value));
  JsonNumber n;
  n.kind_ = Kind::Negative;
  n.i_ = value;
  return n;
}

JsonNumber JsonNumber::from_double(double value) {
  JsonNumber n;
  n.kind_ = Kind::Double;
  n.d_ = value;
  return n;
}

bool JsonNumber::operator==(const JsonNumber& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Unsigned: return u_ == other.u_;
    case Kind::Negative: return i_ == other.i_;
    case Kind::Double: return std::memcmp(&d_, &other.d_, sizeof d_) == 0;
  }
  return false;
}

JsonObject::JsonObject(std::initializer_list<Member> members) {
  for (const auto& member : members) insert(member.first, member.second);
}

JsonObject JsonObject::from_members(std::vector<Member> members) {
  sort_keeping_last(members, [](const Member& a, const Member& b) { return a.first < b.first; });
  JsonObject object;
  object.members_ = std::move(members);
  return object;
}

void JsonObject::insert(std::string key, JsonValue value) {
  // Replies are mostly built in key order, so appending is the common case.
  if (members_.empty() || members_.back().first < key) {
    members_.emplace_back(std::move(key), std::move(value));
    return;
  }
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, const std::string& k) { return m.first < k; });
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

const JsonValue* JsonObject::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, std::string_view k) { return std::string_view(m.first) < k; });
  return it != members_.end() && it->first == key ? &it->second : nullptr;
}

JsonValue* JsonObject::find(std::string_view key) {
  return const_cast<JsonValue*>(static_cast<const JsonObject&>(*this).find(key));
}

bool JsonObject::operator==(const JsonObject& other) const { return members_ == other.members_; }

JsonValue::JsonValue(JsonNumber number) : kind_(Kind::Number), number_kind_(number.kind()) {
  switch (number.kind()) {
    case JsonNumber::Kind::Unsigned: unsigned_ = number.as_unsigned(); break;
    case JsonNumber::Kind::Negative: negative_ = number.as_negative(); break;
    case JsonNumber::Kind::Double: double_ = number.as_double(); break;
  }
}

JsonValue::JsonValue(double value) {
  if (std::isfinite(value)) {
    kind_ = Kind::Number;
    number_kind_ = JsonNumber::Kind::Double;
    double_ = value;
  }
}

namespace {

// One allocation per owned string: its size, then its bytes (no terminator).
char* new_string_block(std::string_view text) {
  char* block = new char[sizeof(std::uint64_t) + text.size()];
  const std::uint64_t size = text.size();
  std::memcpy(block, &size, sizeof size);
  if (!text.empty()) std::memcpy(block + sizeof size, text.data(), text.size());
  return block;
}

std::string_view string_block_text(const char* block) {
  std::uint64_t size = 0;
  std::memcpy(&size, block, sizeof size);
  return std::string_view(block + sizeof size, static_cast<std::size_t>(size));
}

}  // namespace

JsonValue::JsonValue(std::string_view value) : kind_(Kind::String), owned_block_(new_string_block(value)) {}
JsonValue::JsonValue(JsonArray value) : kind_(Kind::Array), array_(new JsonArray(std::move(value))) {}
JsonValue::JsonValue(JsonObject value) : kind_(Kind::Object), object_(new JsonObject(std::move(value))) {}
JsonValue::JsonValue(std::shared_ptr<const JsonStreamer> streamer)
    : kind_(Kind::Streamed), streamer_(new std::shared_ptr<const JsonStreamer>(std::move(streamer))) {}

JsonValue JsonValue::borrowed_string(std::string_view text) {
  // The length is kept in 32 bits; a longer text is copied instead.
  if (text.size() > UINT32_MAX) return JsonValue(text);
  JsonValue value;
  value.kind_ = Kind::String;
  value.borrowed_ = true;
  value.borrowed_size_ = static_cast<std::uint32_t>(text.size());
  value.borrowed_chars_ = text.data();
  return value;
}

JsonNumber JsonValue::as_number() const {
  switch (number_kind_) {
    case JsonNumber::Kind::Unsigned: return JsonNumber::from_unsigned(unsigned_);
    case JsonNumber::Kind::Negative: return JsonNumber::from_signed(negative_);
    case JsonNumber::Kind::Double: break;
  }
  return JsonNumber::from_double(double_);
}

std::string_view JsonValue::as_string() const {
  return borrowed_ ? std::string_view(borrowed_chars_, borrowed_size_) : string_block_text(owned_block_);
}

JsonValue::JsonValue(const JsonValue& other) { copy_from(other); }
JsonValue::JsonValue(JsonValue&& other) noexcept { move_from(std::move(other)); }

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);
    destroy();
    move_from(std::move(copy));
  }
  return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    destroy();
    move_from(std::move(other));
  }
  return *this;
}

JsonValue::~JsonValue() { destroy(); }

void JsonValue::destroy() {
  switch (kind_) {
    case Kind::String:
      if (!borrowed_) delete[] owned_block_;
      break;
    case Kind::Array: delete array_; break;
    case Kind::Object: delete object_; break;
    case Kind::Streamed: delete streamer_; break;
    default: break;
  }
  kind_ = Kind::Null;
  borrowed_ = false;
}

void JsonValue::copy_from(const JsonValue& other) {
  // The kind is set once the copy is made, so a copy that runs out of memory
  // leaves a null value behind. A borrowed string's copy owns its text.
  switch (other.kind_) {
    case Kind::Null: break;
    case Kind::String: owned_block_ = new_string_block(other.as_string()); break;
    case Kind::Array: array_ = new JsonArray(*other.array_); break;
    case Kind::Object: object_ = new JsonObject(*other.object_); break;
    case Kind::Streamed: streamer_ = new std::shared_ptr<const JsonStreamer>(*other.streamer_); break;
    case Kind::Boolean: bool_ = other.bool_; break;
    case Kind::Number:
      number_kind_ = other.number_kind_;
      unsigned_ = other.unsigned_;  // the number's bits, whichever kind it is
      break;
  }
  kind_ = other.kind_;
  borrowed_ = false;
}

void JsonValue::move_from(JsonValue&& other) noexcept {
  kind_ = other.kind_;
  number_kind_ = other.number_kind_;
  borrowed_ = other.borrowed_;
  borrowed_size_ = other.borrowed_size_;
  switch (kind_) {
    case Kind::Null: break;
    case Kind::Boolean: bool_ = other.bool_; break;
    case Kind::Number: unsigned_ = other.unsigned_; break;  // the number's bits, whichever kind it is
    case Kind::String:
      if (borrowed_) {
        borrowed_chars_ = other.borrowed_chars_;
      } else {
        owned_block_ = other.owned_block_;
      }
      break;
    case Kind::Array: array_ = other.array_; break;
    case Kind::Object: object_ = other.object_; break;
    case Kind::Streamed: streamer_ = other.streamer_; break;
  }
  other.kind_ = Kind::Null;
  other.borrowed_ = false;
}

bool JsonValue::operator==(const JsonValue& other) const {
  if (kind_ == Kind::Streamed || other.kind_ == Kind::Streamed) return to_json(*this) == to_json(other);
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Null: return true;
    case Kind::Boolean: return bool_ == other.bool_;
    case Kind::Number: return as_number() == other.as_number();
    case Kind::String: return as_string() == other.as_string();
    case Kind::Array: return *array_ == *other.array_;
    case Kind::Object: return *object_ == *other.object_;
    case Kind::Streamed: break;
  }
  return false;
}

}  // namespace qm
