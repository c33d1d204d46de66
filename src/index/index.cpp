#include "index/index.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <new>

#include "common/large_block.h"
#include "common/saturating.h"

namespace qm {

template <class Value>
Value Index::SparseColumn<Value>::at(EntryId id) const {
  const auto found = std::lower_bound(items.begin(), items.end(), id,
                                      [](const std::pair<EntryId, Value>& item, EntryId key) { return item.first < key; });
  return found->second;  // the packed code says the id is here
}

bool Index::RemovedSet::insert(EntryId id) {
  if (id >= bits_.size()) bits_.resize(static_cast<std::size_t>(id) + 1, false);
  if (bits_[id]) return false;
  bits_[id] = true;
  ++count_;
  return true;
}

void Index::RemovedSet::clear() {
  bits_.clear();
  bits_.shrink_to_fit();
  count_ = 0;
}

void Index::FreeRecordChunk::operator()(Record* chunk) const { free_large_block(chunk, sizeof(Record) * kChunkSize); }
void Index::FreeNameChunk::operator()(char* chunk) const { free_large_block(chunk, kNameChunkSize); }

Index::Index() = default;
Index::~Index() = default;

std::string_view Index::name(EntryId id) const {
  const std::uint64_t packed = record(id).packed;
  const std::uint64_t offset = packed & kNameOffsetMask;
  std::size_t length = static_cast<std::size_t>((packed >> kNameLengthShift) & kMaxNameLength);
  // Hide the small bound from the optimiser: knowing a name is under 1 KiB,
  // g++ inlines every copy of it as "rep movsq", several times slower on
  // short names than the library memcpy it calls otherwise.
  asm("" : "+r"(length));
  return {name_chunks_[offset >> kNameChunkShift].get() + (offset & (kNameChunkSize - 1)), length};
}

FileId Index::file_id(EntryId id) const {
  const Record& r = record(id);
  const unsigned slot = static_cast<unsigned>((r.packed >> kDeviceShift) & kOverflowSlot);
  const std::uint64_t device = slot == kOverflowSlot ? overflow_devices_.at(id) : devices_[slot];
  return {device, r.inode};
}

std::uint64_t Index::links(EntryId id) const {
  const std::uint64_t small = (record(id).packed >> kLinksShift) & kLinksInTable;
  if (small != kLinksInTable) return small;
  return big_links_.at(id);
}

EntryId Index::next_sibling(EntryId id) const {
  switch ((record(id).packed >> kSiblingShift) & 3) {
    case kPreviousId:
      return id - 1;
    case kSiblingInTable:
      return siblings_.at(id);
    default:
      return kNoEntry;
  }
}

EntryMetadata Index::metadata(EntryId id) const {
  const Record& r = record(id);
  EntryMetadata m;
  m.file = file_id(id);
  m.size = r.size;
  m.allocated = r.allocated;
  m.modified = r.modified;
  m.links = links(id);
  m.directory = is_directory(id);
  return m;
}

std::uint64_t Index::store_name(std::string_view name) {
  // Names stay in one chunk each. A name is at most 255 bytes (Linux) or 255
  // UTF-16 units (macOS), so at most 765 bytes of text even with every byte
  // replaced by U+FFFD; a longer one cannot occur but is cut to fit the length field.
  if (name.size() > kMaxNameLength) name = name.substr(0, kMaxNameLength);
  if (name_chunks_.empty() || name_used_ + name.size() > kNameChunkSize) {
    name_chunks_.reserve(name_chunks_.size() + 1);  // the block is never left unowned
    auto* chunk = static_cast<char*>(allocate_large_block(kNameChunkSize));
    if (!chunk) throw std::bad_alloc();
    name_chunks_.emplace_back(chunk);
    name_used_ = 0;
  }
  const std::uint64_t offset = ((name_chunks_.size() - 1) << kNameChunkShift) + name_used_;
  if (!name.empty()) __builtin_memcpy(name_chunks_.back().get() + name_used_, name.data(), name.size());
  name_used_ += name.size();
  return offset | (static_cast<std::uint64_t>(name.size()) << kNameLengthShift);
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

EntryId Index::add(EntryId parent, std::string_view name, const EntryMetadata& m) {
  const EntryId id = count_;
  if ((id & kChunkMask) == 0) {
    chunks_.reserve(chunks_.size() + 1);  // the block is never left unowned
    auto* chunk = static_cast<Record*>(allocate_large_block(sizeof(Record) * kChunkSize));
    if (!chunk) throw std::bad_alloc();
    chunks_.emplace_back(chunk);
  }
  Record& slot = *new (&chunks_.back()[id & kChunkMask]) Record;
  slot.size = m.size;
  slot.allocated = m.allocated;
  slot.modified = m.modified;
  slot.inode = m.file.inode;
  std::uint64_t links = m.links;
  if (links >= kLinksInTable) {
    big_links_.append(id, links);
    links = kLinksInTable;
  }
  std::uint64_t sibling = kNoSibling;
  if (parent != kNoEntry) {
    Record& up = record(parent);
    if (up.first_child == id - 1) {
      sibling = kPreviousId;
    } else if (up.first_child != kNoEntry) {
      siblings_.append(id, up.first_child);
      sibling = kSiblingInTable;
    }
    up.first_child = id;
  }
  slot.packed = store_name(name) | (links << kLinksShift) | (sibling << kSiblingShift) |
                (static_cast<std::uint64_t>(device_slot(m.file.device, id)) << kDeviceShift) |
                (static_cast<std::uint64_t>(m.directory) << 63);
  slot.parent = parent;
  ++count_;
  return id;
}

void Index::set_raw_name(EntryId id, std::string_view bytes) { raw_names_[id] = std::string(bytes); }

void Index::fold_into(EntryId directory, std::uint64_t size, std::uint64_t allocated) {
  Record& r = record(directory);
  r.size = saturating_add(r.size, size);
  r.allocated = saturating_add(r.allocated, allocated);
}

void Index::count(const ScanCounts& more) {
  counts_.seen = saturating_add(counts_.seen, more.seen);
  counts_.errors = saturating_add(counts_.errors, more.errors);
  counts_.skipped = saturating_add(counts_.skipped, more.skipped);
}

void Index::add_subtree_totals() {
  for (EntryId id = count_; id-- > 1;) {
    const Record& child = record(id);
    fold_into(child.parent, child.size, child.allocated);
  }
}

void Index::lower(EntryId id, const Totals& totals) {
  Record& r = record(id);
  r.size = saturating_sub(r.size, totals.size);
  r.allocated = saturating_sub(r.allocated, totals.allocated);
}

Totals Index::take_out(EntryId start) {
  // Subtracting a sum saturating at 0 gives what subtracting file by file
  // gives, so each directory is touched once.
  const auto add = [](Totals& to, std::uint64_t size, std::uint64_t allocated) {
    to.size = saturating_add(to.size, size);
    to.allocated = saturating_add(to.allocated, allocated);
  };
  Totals taken;
  if (start != 0 && !removed_.insert(start)) return taken;  // an earlier call took it out
  const Record& first = record(start);
  if (!is_directory(start)) {
    add(taken, first.size, first.allocated);
  } else {
    struct Frame {
      EntryId directory;
      EntryId next_child;
      Totals below;
    };
    std::vector<Frame> stack;
    stack.push_back({start, first.first_child, {}});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next_child != kNoEntry) {
        const EntryId child = top.next_child;
        const Record& entry = record(child);
        top.next_child = next_sibling(child);
        // Removed sets are closed downwards: a removed child's subtree is done already.
        if (!removed_.insert(child)) continue;
        if (is_directory(child)) {
          stack.push_back({child, entry.first_child, {}});
        } else {
          add(top.below, entry.size, entry.allocated);
        }
        continue;
      }
      const Frame done = top;
      stack.pop_back();
      lower(done.directory, done.below);
      if (stack.empty()) {
        taken = done.below;
      } else {
        add(stack.back().below, done.below.size, done.below.allocated);
      }
    }
  }
  if (start == 0) return taken;
  for (EntryId at = record(start).parent; at != kNoEntry; at = record(at).parent) lower(at, taken);
  return taken;
}

template <class NameOf>
void Index::append_path(EntryId id, std::string& out, std::string_view top, NameOf&& name_of) const {
  // Collect the ancestors below the root, then append them outermost first.
  EntryId chain[4096];
  std::vector<EntryId> deep;
  std::size_t depth = 0;
  for (EntryId at = id; at != 0 && at != kNoEntry; at = record(at).parent) {
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
  append_path(id, out, root_, [this](EntryId at) { return name(at); });
}

std::string Index::entry_path(EntryId id) const {
  // Root and names are stored as text already, so the joined path is text too.
  std::string path;
  append_entry_path(id, path);
  return path;
}

std::string_view Index::os_name(EntryId id) const {
  if (raw_names_.empty()) return name(id);
  const auto raw = raw_names_.find(id);
  return raw == raw_names_.end() ? name(id) : std::string_view(raw->second);
}

void Index::append_os_path(EntryId id, std::string& out) const {
  if (paths_are_text()) {
    append_entry_path(id, out);
    return;
  }
  append_path(id, out, os_root_, [this](EntryId at) { return os_name(at); });
}

std::string Index::os_path(EntryId id) const {
  std::string path;
  append_os_path(id, path);
  return path;
}

void Index::reset(std::string root, std::string mode, std::string os_root) {
  clear_table();
  os_root_ = os_root.empty() ? root : std::move(os_root);
  root_ = std::move(root);
  mode_ = std::move(mode);
  counts_ = ScanCounts{1, 0, 0};
  ++generation_;
}

void Index::clear_table() {
  decltype(chunks_)().swap(chunks_);  // capacity given back too
  decltype(name_chunks_)().swap(name_chunks_);
  name_used_ = 0;
  count_ = 0;
  devices_.clear();
  overflow_devices_.clear();
  decltype(big_links_.items)().swap(big_links_.items);
  decltype(siblings_.items)().swap(siblings_.items);
  raw_names_.clear();
  removed_.clear();
}

void Index::discard() {
  clear_table();
  root_.clear();
  os_root_.clear();
  mode_.clear();
  counts_ = ScanCounts{};
  elapsed_ms_ = 0;
}

std::size_t Index::memory_bytes() const {
  return chunks_.size() * kChunkSize * sizeof(Record) + name_chunks_.size() * kNameChunkSize +
         big_links_.items.capacity() * sizeof(big_links_.items[0]) +
         siblings_.items.capacity() * sizeof(siblings_.items[0]);
}

}  // namespace qm
