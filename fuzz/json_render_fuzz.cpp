// Builds a value tree from the fuzz bytes (any doubles by their bits, any
// string bytes, nested containers), renders it, and reads the text back as the
// args of a request: it must give the same tree, and rendering that must give
// the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/json_writer.h"
#include "protocol/request.h"

namespace {

class Source {
 public:
  Source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value = (value << 8) | byte();
    return value;
  }
  std::string text() {
    const std::size_t length = byte() % 24;
    std::string out;
    for (std::size_t k = 0; k < length; ++k) out.push_back(static_cast<char>(byte()));
    return out;
  }
  bool empty() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

qm::JsonValue generate(Source& source, int depth) {
  const std::uint8_t kind = source.byte();
  switch (kind % 8) {
    case 0: return qm::JsonValue();
    case 1: return qm::JsonValue((kind & 0x80) != 0);
    case 2: return qm::JsonValue(static_cast<unsigned long long>(source.u64()));
    case 3: return qm::JsonValue(static_cast<long long>(source.u64() | (std::uint64_t{1} << 63)));
    case 4: {
      const std::uint64_t bits = source.u64();
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return qm::JsonValue(value);  // NaN and infinities become null
    }
    case 5: return qm::JsonValue(source.text());
    case 6: {
      qm::JsonArray array;
      const int count = depth < 40 ? source.byte() % 6 : 0;
      for (int k = 0; k < count && !source.empty(); ++k) array.push_back(generate(source, depth + 1));
      return qm::JsonValue(std::move(array));
    }
    default: {
      qm::JsonObject object;
      const int count = depth < 40 ? source.byte() % 6 : 0;
      for (int k = 0; k < count && !source.empty(); ++k) {
        std::string key = source.text();
        object.insert(std::move(key), generate(source, depth + 1));
      }
      return qm::JsonValue(std::move(object));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Source source(data, size);
  const qm::JsonValue value = generate(source, 0);
  const std::string text = qm::to_json(value);
  if (text.find('\n') != std::string::npos) std::abort();  // control bytes are always escaped

  auto decoded = qm::decode_request(R"({"request":1,"command":"x","args":)" + text + "}");
  if (!std::holds_alternative<qm::Request>(decoded)) std::abort();
  const qm::JsonValue& back = std::get<qm::Request>(decoded).args;
  if (!(back == value)) std::abort();
  if (qm::to_json(back) != text) std::abort();
  return 0;
}
