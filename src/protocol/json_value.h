#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

class JsonValue;

// A number as it will be written: unsigned, negative signed or a finite double.
class JsonNumber {
 public:
  enum class Kind : std::uint8_t { Unsigned, Negative, Double };

  static JsonNumber from_unsigned(std::uint64_t value);
  static JsonNumber from_signed(std::int64_t value);  // non-negative values become Unsigned
  // Caller guarantees the double is finite (JsonValue turns non-finite ones into null).
  static JsonNumber from_double(double value);

  Kind kind() const { return kind_; }
  std::uint64_t as_unsigned() const { return u_; }
  std::int64_t as_negative() const { return i_; }
  double as_double() const { return d_; }

  bool operator==(const JsonNumber& other) const;

 private:
  // Trivial on purpose, so JsonValue can hold it in a union; the factories set every field.
  Kind kind_;
  union {
    std::uint64_t u_;
    std::int64_t i_;
    double d_;
  };
};

// Members kept unique and in ascending byte order of their keys.
class JsonObject {
 public:
  using Member = std::pair<std::string, JsonValue>;

  JsonObject() = default;
  JsonObject(std::initializer_list<Member> members);

  // Builds an object from members in any order; of members with equal keys the
  // last one wins. One sort instead of one ordered insert per member, so large
  // objects cost n log n.
  static JsonObject from_members(std::vector<Member> members);

  // Inserts or replaces the member with this key.
  void insert(std::string key, JsonValue value);
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);

  // Defined after JsonValue: they need Member complete, which some compilers
  // insist on at the point of an in-class body.
  using const_iterator = std::vector<Member>::const_iterator;
  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;

  bool operator==(const JsonObject& other) const;

 private:
  std::vector<Member> members_;
};

using JsonArray = std::vector<JsonValue>;

class JsonOut;

// A value whose text is written when it is rendered, from data it holds (or
// refers to) in its own form: a large result is streamed into the reply line
// instead of being built as a tree of values first.
class JsonStreamer {
 public:
  virtual ~JsonStreamer() = default;
  // Writes the compact text of one JSON value. Called on the thread that renders.
  virtual void render(JsonOut& out) const = 0;
};

class JsonValue {
 public:
  enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object, Streamed };

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool value) : kind_(Kind::Boolean), bool_(value) {}
  JsonValue(JsonNumber number);
  JsonValue(int value) : JsonValue(JsonNumber::from_signed(value)) {}
  JsonValue(long value) : JsonValue(JsonNumber::from_signed(value)) {}
  JsonValue(long long value) : JsonValue(JsonNumber::from_signed(value)) {}
  JsonValue(unsigned value) : JsonValue(JsonNumber::from_unsigned(value)) {}
  JsonValue(unsigned long value) : JsonValue(JsonNumber::from_unsigned(value)) {}
  JsonValue(unsigned long long value) : JsonValue(JsonNumber::from_unsigned(value)) {}
  // A non-finite double becomes null; a float is widened to double first.
  JsonValue(double value);
  JsonValue(float value) : JsonValue(static_cast<double>(value)) {}
  // Strings are copied into one allocation of their own.
  JsonValue(std::string_view value);
  JsonValue(const std::string& value) : JsonValue(std::string_view(value)) {}
  JsonValue(const char* value) : JsonValue(std::string_view(value)) {}
  JsonValue(JsonArray value);
  JsonValue(JsonObject value);
  // A value rendered by streamer (shared: copies render the same text).
  explicit JsonValue(std::shared_ptr<const JsonStreamer> streamer);

  // A string that refers to text it does not own: no copy and no allocation.
  // The text must outlive the value and every value moved from it; a copy
  // owns its text. Used for the strings of a request decoded in place.
  static JsonValue borrowed_string(std::string_view text);

  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept;
  ~JsonValue();

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  bool is_bool() const { return kind_ == Kind::Boolean; }
  bool is_number() const { return kind_ == Kind::Number; }
  bool is_string() const { return kind_ == Kind::String; }
  bool is_array() const { return kind_ == Kind::Array; }
  bool is_object() const { return kind_ == Kind::Object; }
  // An integer literal from 0 to 2^64 - 1 (the "unsigned" argument kind).
  bool is_unsigned() const { return kind_ == Kind::Number && number_kind_ == JsonNumber::Kind::Unsigned; }

  bool as_bool() const { return bool_; }
  JsonNumber as_number() const;
  std::uint64_t as_unsigned() const { return unsigned_; }
  std::string_view as_string() const;
  const JsonArray& as_array() const { return *array_; }
  JsonArray& as_array() { return *array_; }
  const JsonObject& as_object() const { return *object_; }
  JsonObject& as_object() { return *object_; }
  const JsonStreamer& as_streamer() const { return **streamer_; }

  // Equal kinds and contents; a streamed value compares by its rendered text.
  bool operator==(const JsonValue& other) const;

 private:
  void destroy();
  void copy_from(const JsonValue& other);
  void move_from(JsonValue&& other) noexcept;

  // 16 bytes: the kind, how a number is held or whether a string is owned, a
  // short string's length, and one word of payload.
  Kind kind_ = Kind::Null;
  JsonNumber::Kind number_kind_ = JsonNumber::Kind::Unsigned;
  bool borrowed_ = false;  // a string whose text is not ours
  std::uint32_t borrowed_size_ = 0;
  union {
    bool bool_ = false;
    std::uint64_t unsigned_;
    std::int64_t negative_;
    double double_;
    const char* borrowed_chars_;
    char* owned_block_;  // std::uint64_t size, then the bytes
    JsonArray* array_;
    JsonObject* object_;
    std::shared_ptr<const JsonStreamer>* streamer_;
  };
};

inline std::size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }
inline JsonObject::const_iterator JsonObject::begin() const { return members_.begin(); }
inline JsonObject::const_iterator JsonObject::end() const { return members_.end(); }

}  // namespace qm
