#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/entry_id.h"
#include "fs/entry_metadata.h"

namespace qm {

// One table record, 56 bytes. The name, the device and large link counts live in
// the Index (name arena, device table, side table); read them through the Index.
struct IndexEntry {
  std::uint64_t size = 0;       // file: own size; directory: subtree total after the scan
  std::uint64_t allocated = 0;  // file: own blocks (0 for a repeated hard link); directory: subtree total
  std::uint64_t modified = 0;
  std::uint64_t inode = 0;
  std::uint64_t packed = 0;  // name offset:40 | name length:16 | device slot:7 | directory:1
  EntryId parent = kNoEntry;
  EntryId first_child = kNoEntry;
  EntryId next_sibling = kNoEntry;
  std::uint32_t links32 = 0;  // saturated; the exact count is Index::links()

  bool directory() const { return (packed >> 63) != 0; }
  std::uint32_t name_length() const { return static_cast<std::uint32_t>((packed >> 40) & 0xFFFF); }
};
static_assert(sizeof(IndexEntry) == 56);

// What to_index_entry makes of an EntryMetadata: every value, not yet in the table.
struct NewEntry {
  std::string_view name;
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  std::uint64_t modified = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t links = 0;
  EntryId parent = kNoEntry;
  bool directory = false;
};

// Parses "<device>:<inode>" (each an unsigned decimal with an optional "+"; bad parts give 0).
void parse_identity(std::string_view identity, std::uint64_t& device, std::uint64_t& inode);

// The record's values; its name view points into metadata.name.
NewEntry to_index_entry(const EntryMetadata& metadata);

// Ids taken out by "forget": a bitmap, so the per-entry test of the queries is one load.
class RemovedSet {
 public:
  bool contains(EntryId id) const { return id < bits_.size() && bits_[id]; }
  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }
  // Returns false when the id was already present.
  bool insert(EntryId id);
  void clear();

 private:
  std::vector<bool> bits_;
  std::size_t count_ = 0;
};

// The entry table of the last scan, with its root, mode and counters.
class Index {
 public:
  Index();
  ~Index();
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // Number of entries, removed ones included.
  std::uint32_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool valid(std::uint64_t id) const { return id < count_; }

  const IndexEntry& entry(EntryId id) const { return chunks_[id >> kChunkShift][id & kChunkMask]; }
  IndexEntry& entry(EntryId id) { return chunks_[id >> kChunkShift][id & kChunkMask]; }
  std::string_view name(EntryId id) const;
  std::uint64_t device(EntryId id) const;
  std::uint64_t links(EntryId id) const;
  bool is_removed(EntryId id) const { return removed.contains(id); }

  // Appends an entry with no children; links it at the head of its parent's chain
  // when it has one. Returns its id. Caller checks the id limit first.
  EntryId add(const NewEntry& entry);

  // The path of a valid entry, rebuilt from names below root.
  std::string entry_path(EntryId id) const;
  // Appends the path of a valid entry to out (no allocation when out has room).
  void append_entry_path(EntryId id, std::string& out) const;

  // Names that are not text keep their bytes on the side: the text path shows
  // U+FFFD in their place, the system path (the one to open) has the bytes.
  void set_raw_name(EntryId id, std::string_view bytes);
  // True when every system path equals its text path.
  bool paths_are_text() const { return raw_names_.empty() && os_root == root; }
  std::string os_path(EntryId id) const;
  void append_os_path(EntryId id, std::string& out) const;

  // Scan start: table and removed emptied, root/mode replaced, counters restarted,
  // generation + 1. elapsed_ms keeps its value. new_os_root: the root as the
  // system names it, when that is not text (empty: the same as new_root).
  void reset(std::string new_root, std::string new_mode, std::string new_os_root = {});

  // Bytes held by the table and its names (for memory figures).
  std::size_t memory_bytes() const;

  std::string root;
  std::string os_root;  // root as the system names it; equal to root when that is text
  std::string mode;
  RemovedSet removed;
  std::uint64_t generation = 0;
  std::uint64_t seen = 0;
  std::uint64_t errors = 0;
  std::uint64_t skipped = 0;
  std::uint64_t elapsed_ms = 0;

  static constexpr EntryId kMaxEntries = 0xFFFFFFFFu;  // ids 0 .. 0xFFFFFFFE

 private:
  // Fixed-size chunks: growing never copies the table or doubles its memory.
  static constexpr unsigned kChunkShift = 16;
  static constexpr std::uint32_t kChunkSize = 1u << kChunkShift;
  static constexpr std::uint32_t kChunkMask = kChunkSize - 1;
  static constexpr unsigned kNameChunkShift = 20;
  static constexpr std::size_t kNameChunkSize = std::size_t{1} << kNameChunkShift;

  std::uint64_t store_name(std::string_view name);
  template <class NameOf>
  void append_path(EntryId id, std::string& out, std::string_view top, NameOf&& name_of) const;
  unsigned device_slot(std::uint64_t device, EntryId id);

  // Chunks are raw allocations: a record comes to life when add() fills it, so
  // the untouched tail of the last chunk costs no resident memory.
  struct FreeChunk {
    void operator()(IndexEntry* chunk) const;
  };
  std::vector<std::unique_ptr<IndexEntry[], FreeChunk>> chunks_;
  std::vector<std::unique_ptr<char[]>> name_chunks_;
  std::size_t name_used_ = 0;  // bytes used in the last name chunk
  std::uint32_t count_ = 0;
  std::vector<std::uint64_t> devices_;  // slot -> device
  std::unordered_map<EntryId, std::uint64_t> overflow_devices_;
  std::unordered_map<EntryId, std::uint64_t> big_links_;
  std::unordered_map<EntryId, std::string> raw_names_;
};

}  // namespace qm
