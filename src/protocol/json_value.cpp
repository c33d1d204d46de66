#include "protocol/json_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/sort_keeping_last.h"

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

JsonValue::JsonValue(double value) {
  if (std::isfinite(value)) {
    kind_ = Kind::Number;
    number_ = JsonNumber::from_double(value);
  }
}

JsonValue::JsonValue(std::string value) : kind_(Kind::String), string_(new std::string(std::move(value))) {}
JsonValue::JsonValue(JsonArray value) : kind_(Kind::Array), array_(new JsonArray(std::move(value))) {}
JsonValue::JsonValue(JsonObject value) : kind_(Kind::Object), object_(new JsonObject(std::move(value))) {}

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
    case Kind::String: delete string_; break;
    case Kind::Array: delete array_; break;
    case Kind::Object: delete object_; break;
    default: break;
  }
  kind_ = Kind::Null;
}

void JsonValue::copy_from(const JsonValue& other) {
  kind_ = other.kind_;
  switch (kind_) {
    case Kind::Null: break;
    case Kind::Boolean: bool_ = other.bool_; break;
    case Kind::Number: number_ = other.number_; break;
    case Kind::String: string_ = new std::string(*other.string_); break;
    case Kind::Array: array_ = new JsonArray(*other.array_); break;
    case Kind::Object: object_ = new JsonObject(*other.object_); break;
  }
}

void JsonValue::move_from(JsonValue&& other) noexcept {
  kind_ = other.kind_;
  switch (kind_) {
    case Kind::Null: break;
    case Kind::Boolean: bool_ = other.bool_; break;
    case Kind::Number: number_ = other.number_; break;
    case Kind::String: string_ = other.string_; break;
    case Kind::Array: array_ = other.array_; break;
    case Kind::Object: object_ = other.object_; break;
  }
  other.kind_ = Kind::Null;
}

bool JsonValue::operator==(const JsonValue& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Null: return true;
    case Kind::Boolean: return bool_ == other.bool_;
    case Kind::Number: return number_ == other.number_;
    case Kind::String: return *string_ == *other.string_;
    case Kind::Array: return *array_ == *other.array_;
    case Kind::Object: return *object_ == *other.object_;
  }
  return false;
}

}  // namespace qm
