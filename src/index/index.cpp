#include "index/index.h"

#include <cstdlib>
#include <limits>
#include <new>


namespace qm {
namespace {

constexpr unsigned kOverflowSlot = 0x7F;

// One identity part: digits with an optional leading "+", else 0.
std::uint64_t parse_identity_part(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

void parse_identity(std::string_view identity, std::uint64_t& device, std::uint64_t& inode) {
  const auto colon = identity.find(':');
  if (colon == std::string_view::npos) {
    device = parse_identity_part(identity);
    inode = 0;
    return;
  }
  device = parse_identity_part(identity.substr(0, colon));
  std::string_view rest = identity.substr(colon + 1);
  const auto second = rest.find(':');
  if (second != std::string_view::npos) rest = rest.substr(0, second);
  inode = parse_identity_part(rest);
}

NewEntry to_index_entry(const EntryMetadata& metadata) {
  NewEntry entry;
  entry.name = metadata.name;
  entry.size = metadata.size;
  entry.allocated = metadata.allocated;
  entry.modified = metadata.modified;
  entry.links = metadata.links;
  entry.directory = metadata.directory;
  entry.parent = metadata.parent ? *metadata.parent : kNoEntry;
  parse_identity(metadata.identity, entry.device, entry.inode);
  return entry;
}

bool RemovedSet::insert(EntryId id) {
  if (id >= bits_.size()) bits_.resize(static_cast<std::size_t>(id) + 1, false);
  if (bits_[id]) return false;
  bits_[id] = true;
  ++count_;
  return true;
}

void RemovedSet::clear() {
  bits_.clear();
  bits_.shrink_to_fit();
  count_ = 0;
}

void Index::FreeChunk::operator()(IndexEntry* chunk) const { std::free(chunk); }

Index::Index() = default;
Index::~Index() = default;

std::string_view Index::name(EntryId id) const {
  const std::uint64_t packed = entry(id).packed;
  const std::uint64_t offset = packed & ((std::uint64_t{1} << 40) - 1);
  const std::size_t length = static_cast<std::size_t>((packed >> 40) & 0xFFFF);
  return {name_chunks_[offset >> kNameChunkShift].get() + (offset & (kNameChunkSize - 1)), length};
}

std::uint64_t Index::device(EntryId id) const {
  const unsigned slot = static_cast<unsigned>((entry(id).packed >> 56) & 0x7F);
  if (slot == kOverflowSlot) return overflow_devices_.at(id);
  return devices_[slot];
}

std::uint64_t Index::links(EntryId id) const {
  const std::uint32_t small = entry(id).links32;
  if (small != UINT32_MAX) return small;
  return big_links_.at(id);
}

std::uint64_t Index::store_name(std::string_view name) {
  // Names stay in one chunk each; names longer than 65535 bytes cannot occur
  // (NAME_MAX, even after U+FFFD replacement) but are cut to fit the length field.
  if (name.size() > 0xFFFF) name = name.substr(0, 0xFFFF);
  if (name_chunks_.empty() || name_used_ + name.size() > kNameChunkSize) {
    name_chunks_.push_back(std::make_unique_for_overwrite<char[]>(kNameChunkSize));
    name_used_ = 0;
  }
  const std::uint64_t offset = ((name_chunks_.size() - 1) << kNameChunkShift) + name_used_;
  if (!name.empty()) __builtin_memcpy(name_chunks_.back().get() + name_used_, name.data(), name.size());
  name_used_ += name.size();
  return offset | (static_cast<std::uint64_t>(name.size()) << 40);
}

unsigned Index::device_slot(std::uint64_t device, EntryId id) {
  for (unsigned slot = 0; slot < devices_.size(); ++slot) {
    if (devices_[slot] == device) return slot;
  }
  if (devices_.size() < kOverflowSlot) {
    devices_.push_back(device);
    return static_cast<unsigned>(devices_.size() - 1);
  }
  overflow_devices_[id] = device;
  return kOverflowSlot;
}

EntryId Index::add(const NewEntry& e) {
  const EntryId id = count_;
  if ((id & kChunkMask) == 0) {
    auto* chunk = static_cast<IndexEntry*>(std::malloc(sizeof(IndexEntry) * kChunkSize));
    if (!chunk) throw std::bad_alloc();
    chunks_.emplace_back(chunk);
  }
  IndexEntry& slot = *new (&chunks_.back()[id & kChunkMask]) IndexEntry;
  slot.size = e.size;
  slot.allocated = e.allocated;
  slot.modified = e.modified;
  slot.inode = e.inode;
  slot.packed = store_name(e.name) | (static_cast<std::uint64_t>(device_slot(e.device, id)) << 56) |
                (static_cast<std::uint64_t>(e.directory) << 63);
  slot.parent = e.parent;
  slot.first_child = kNoEntry;
  slot.next_sibling = kNoEntry;
  if (e.links >= UINT32_MAX) {
    slot.links32 = UINT32_MAX;
    big_links_[id] = e.links;
  } else {
    slot.links32 = static_cast<std::uint32_t>(e.links);
  }
  if (e.parent != kNoEntry) {
    IndexEntry& parent = entry(e.parent);
    slot.next_sibling = parent.first_child;
    parent.first_child = id;
  }
  ++count_;
  return id;
}

template <class NameOf>
void Index::append_path(EntryId id, std::string& out, std::string_view top, NameOf&& name_of) const {
  // Collect the ancestors below the root, then append them outermost first.
  EntryId chain[4096];
  std::vector<EntryId> deep;
  std::size_t depth = 0;
  for (EntryId at = id; at != 0 && at != kNoEntry; at = entry(at).parent) {
    if (depth < std::size(chain)) {
      chain[depth] = at;
    } else {
      if (deep.empty()) deep.assign(chain, chain + depth);
      deep.push_back(at);
    }
    ++depth;
  }
  const EntryId* ids = deep.empty() ? chain : deep.data();
  out.append(top);
  for (std::size_t i = depth; i-- > 0;) {
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out.append(name_of(ids[i]));
  }
}

void Index::append_entry_path(EntryId id, std::string& out) const {
  append_path(id, out, root, [this](EntryId at) { return name(at); });
}

std::string Index::entry_path(EntryId id) const {
  // Root and names are stored as text already, so the joined path is text too.
  std::string path;
  append_entry_path(id, path);
  return path;
}

void Index::set_raw_name(EntryId id, std::string_view bytes) { raw_names_[id] = std::string(bytes); }

void Index::append_os_path(EntryId id, std::string& out) const {
  if (paths_are_text()) {
    append_entry_path(id, out);
    return;
  }
  append_path(id, out, os_root, [this](EntryId at) {
    const auto raw = raw_names_.find(at);
    return raw == raw_names_.end() ? name(at) : std::string_view(raw->second);
  });
}

std::string Index::os_path(EntryId id) const {
  std::string path;
  append_os_path(id, path);
  return path;
}

void Index::reset(std::string new_root, std::string new_mode, std::string new_os_root) {
  chunks_.clear();
  name_chunks_.clear();
  name_used_ = 0;
  count_ = 0;
  devices_.clear();
  overflow_devices_.clear();
  big_links_.clear();
  raw_names_.clear();
  removed.clear();
  os_root = new_os_root.empty() ? new_root : std::move(new_os_root);
  root = std::move(new_root);
  mode = std::move(new_mode);
  seen = 1;
  errors = 0;
  skipped = 0;
  ++generation;
}

std::size_t Index::memory_bytes() const {
  return chunks_.size() * kChunkSize * sizeof(IndexEntry) + name_chunks_.size() * kNameChunkSize;
}

}  // namespace qm
