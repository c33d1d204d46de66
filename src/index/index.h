#pragma once
// The entry table of the last scan, with its root, mode and counters. Entries
// are addressed by id and linked to their parent, first child and next
// sibling; paths are rebuilt from names. How an entry is stored is the
// table's business: callers read and change entries through its operations.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/entry_id.h"
#include "common/large_block.h"
#include "fs/entry_metadata.h"

namespace qm {

// What a scan counted besides the entries it kept.
struct ScanCounts {
  std::uint64_t seen = 0;  // objects met, the root included
  std::uint64_t errors = 0;
  std::uint64_t skipped = 0;
};

// Sizes taken out of the index by "forget".
struct Totals {
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
};

class Index {
 public:
  static constexpr EntryId kMaxEntries = 0xFFFFFFFFu;  // ids 0 .. 0xFFFFFFFE

  Index();
  ~Index();
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // ---- the table ----

  // Number of entries, removed ones included.
  std::uint32_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool valid(std::uint64_t id) const { return id < count_; }

  // Of a valid id. A directory's size and allocated bytes are its subtree
  // totals once the scan has finished; a repeated hard link has 0 allocated.
  std::uint64_t size(EntryId id) const { return record(id).size; }
  std::uint64_t allocated(EntryId id) const { return record(id).allocated; }
  std::uint64_t modified(EntryId id) const { return record(id).modified; }
  bool is_directory(EntryId id) const { return (record(id).packed >> 63) != 0; }
  EntryId parent(EntryId id) const { return record(id).parent; }  // kNoEntry for the root
  // Children are chained from the one added last to the one added first.
  EntryId first_child(EntryId id) const { return record(id).first_child; }
  EntryId next_sibling(EntryId id) const;
  std::string_view name(EntryId id) const;
  FileId file_id(EntryId id) const;
  std::uint64_t links(EntryId id) const;
  // Whether the entry has exactly one link (no table lookup on the way).
  bool single_link(EntryId id) const { return ((record(id).packed >> kLinksShift) & kLinksInTable) == 1; }
  EntryMetadata metadata(EntryId id) const;

  // The path of a valid entry, rebuilt from names below root.
  std::string entry_path(EntryId id) const;
  // Appends the path of a valid entry to out (no allocation when out has room).
  void append_entry_path(EntryId id, std::string& out) const;
  // The path as the system names it (the one to open): names that are not
  // text keep their bytes here, where the text path shows U+FFFD.
  std::string os_path(EntryId id) const;
  void append_os_path(EntryId id, std::string& out) const;
  // The name as the system has it (see os_path).
  std::string_view os_name(EntryId id) const;
  // True when every system path equals its text path.
  bool paths_are_text() const { return raw_names_.empty() && os_root_ == root_; }

  bool is_removed(EntryId id) const { return removed_.contains(id); }
  bool any_removed() const { return !removed_.empty(); }

  // ---- what the last scan was ----

  const std::string& root() const { return root_; }        // as text
  const std::string& os_root() const { return os_root_; }  // as the system names it
  const std::string& mode() const { return mode_; }
  std::uint64_t generation() const { return generation_; }
  const ScanCounts& counts() const { return counts_; }
  std::uint64_t elapsed_ms() const { return elapsed_ms_; }

  // ---- a scan fills it ----

  // Scan start: table and removed ids emptied, root and mode replaced, counts
  // restarted (the root seen), generation + 1; elapsed_ms keeps its value.
  // os_root: the root as the system names it, when that is not text (empty:
  // the same as root).
  void reset(std::string root, std::string mode, std::string os_root = {});

  // After a scan that failed: the table, root, mode, counts and elapsed time
  // as before any scan, the generation kept (ids of the scan before are gone too).
  // Allocates nothing.
  void discard();

  // Appends an entry with no children, chained first among its parent's when
  // it has one (parent kNoEntry: the root). Returns its id. The caller checks
  // the id limit first.
  EntryId add(EntryId parent, std::string_view name, const EntryMetadata& metadata);
  // Keeps the bytes of an entry's name that is not text (see os_path).
  void set_raw_name(EntryId id, std::string_view bytes);

  // A file that keeps no entry of its own: its bytes go to its directory.
  void fold_into(EntryId directory, std::uint64_t size, std::uint64_t allocated);
  void count(const ScanCounts& more);
  // Once the walk is over: every entry's size and allocated added to its
  // parent's, last id first, so directories hold their subtree totals.
  void add_subtree_totals();
  void set_elapsed_ms(std::uint64_t elapsed_ms) { elapsed_ms_ = elapsed_ms; }

  // ---- "forget" ----

  // Takes start's subtree out (start itself unless it is entry 0) and lowers
  // every directory inside it and above it by the files taken out, stopping
  // at 0. Entries already taken out stay as they are. Returns what was taken.
  Totals take_out(EntryId start);

  // Bytes held by the table and its names (for memory figures).
  std::size_t memory_bytes() const;

 private:
  // One stored entry, 48 bytes. The name, the device and the rare large
  // link counts and out-of-order siblings live beside the table (name arena,
  // device table, side tables), so the common entry carries only small codes.
  struct Record {
    std::uint64_t size = 0;
    std::uint64_t allocated = 0;
    std::uint64_t modified = 0;
    std::uint64_t inode = 0;
    // name offset:40 | name length:10 | links:5 | sibling code:2 | device slot:6 | directory:1
    std::uint64_t packed = 0;
    EntryId parent = kNoEntry;
    EntryId first_child = kNoEntry;
  };
  static_assert(sizeof(Record) == 48);

  // The packed word's fields.
  static constexpr unsigned kNameLengthShift = 40;
  static constexpr std::uint64_t kNameOffsetMask = (std::uint64_t{1} << 40) - 1;
  static constexpr std::size_t kMaxNameLength = 0x3FF;
  static constexpr unsigned kLinksShift = 50;
  static constexpr std::uint64_t kLinksInTable = 0x1F;  // the count is in big_links_
  static constexpr unsigned kSiblingShift = 55;
  // Where the next sibling is: none, the id just before, or in siblings_. A
  // scan adds a directory's children one after another, so the side table
  // holds only the first child of each later part of a huge directory.
  enum SiblingCode : std::uint64_t { kNoSibling = 0, kPreviousId = 1, kSiblingInTable = 2 };
  static constexpr unsigned kDeviceShift = 57;
  static constexpr unsigned kOverflowSlot = 0x3F;

  // Rare values keyed by id. Ids are added in increasing order, so appending
  // keeps the vector sorted and a lookup is a binary search.
  template <class Value>
  struct SparseColumn {
    std::vector<std::pair<EntryId, Value>> items;
    void append(EntryId id, Value value) { items.emplace_back(id, value); }
    Value at(EntryId id) const;
  };

  // Ids taken out: a bitmap, so the per-entry test of the queries is one load.
  class RemovedSet {
   public:
    bool contains(EntryId id) const { return id < bits_.size() && bits_[id]; }
    bool empty() const { return count_ == 0; }
    bool insert(EntryId id);  // false when the id was already present
    void clear();

   private:
    std::vector<bool> bits_;
    std::size_t count_ = 0;
  };

  // Fixed-size chunks: growing never copies the table or doubles its memory.
  // Both kinds are whole large blocks (common/large_block.h).
  static constexpr unsigned kChunkShift = 17;
  static constexpr std::uint32_t kChunkSize = 1u << kChunkShift;
  static constexpr std::uint32_t kChunkMask = kChunkSize - 1;
  static constexpr unsigned kNameChunkShift = 21;
  static constexpr std::size_t kNameChunkSize = std::size_t{1} << kNameChunkShift;

  static_assert(sizeof(Record) * kChunkSize % kLargeBlockAlignment == 0, "record chunks fill whole large blocks");
  static_assert(kNameChunkSize % kLargeBlockAlignment == 0, "name chunks fill whole large blocks");

  const Record& record(EntryId id) const { return chunks_[id >> kChunkShift][id & kChunkMask]; }
  Record& record(EntryId id) { return chunks_[id >> kChunkShift][id & kChunkMask]; }
  void lower(EntryId id, const Totals& totals);
  void clear_table();  // entries, names, devices, links, raw names and removed ids
  std::uint64_t store_name(std::string_view name);
  template <class NameOf>
  void append_path(EntryId id, std::string& out, std::string_view top, NameOf&& name_of) const;
  unsigned device_slot(std::uint64_t device, EntryId id);

  // Chunks are raw allocations: a record comes to life when add() fills it, so
  // the untouched tail of the last chunk costs no resident memory.
  struct FreeRecordChunk {
    void operator()(Record* chunk) const;
  };
  struct FreeNameChunk {
    void operator()(char* chunk) const;
  };
  std::vector<std::unique_ptr<Record[], FreeRecordChunk>> chunks_;
  std::vector<std::unique_ptr<char[], FreeNameChunk>> name_chunks_;
  std::size_t name_used_ = 0;  // bytes used in the last name chunk
  std::uint32_t count_ = 0;
  std::vector<std::uint64_t> devices_;  // slot -> device
  std::unordered_map<EntryId, std::uint64_t> overflow_devices_;
  SparseColumn<std::uint64_t> big_links_;  // links of kLinksInTable or more
  SparseColumn<EntryId> siblings_;          // next siblings that are not the id before
  std::unordered_map<EntryId, std::string> raw_names_;
  RemovedSet removed_;

  std::string root_;
  std::string os_root_;
  std::string mode_;
  std::uint64_t generation_ = 0;
  ScanCounts counts_;
  std::uint64_t elapsed_ms_ = 0;
};

}  // namespace qm
