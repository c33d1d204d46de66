#include "fs/bulk_reply_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/test_name.h"

namespace qm {
namespace {

// ---- a test-side writer of reply records, following the documented layout ----

struct RecordSpec {
  std::string name;
  std::uint32_t type;
  std::uint32_t returned_common = kBulkCommonRequested;
  std::uint32_t returned_file = kBulkFileRequested;
  std::uint32_t device = 16777220;
  std::int64_t seconds = 1700000000;
  std::int64_t nanoseconds = 250;
  std::uint32_t flags = 0;
  std::uint64_t file_id = 4242;
  std::uint32_t links = 2;
  std::uint64_t size = 10;
  std::uint64_t allocated = 4096;
  std::optional<std::uint32_t> length;  // the length word, when it must lie
  std::vector<std::pair<std::size_t, std::string>> patches;  // raw bytes written last
};

RecordSpec file_record(std::string name) {
  RecordSpec r;
  r.name = std::move(name);
  r.type = kBulkObjectRegular;
  return r;
}

RecordSpec dir_record(std::string name) {
  RecordSpec r = file_record(std::move(name));
  r.type = kBulkObjectDirectory;
  return r;
}

RecordSpec with(RecordSpec r, const std::function<void(RecordSpec&)>& change) {
  change(r);
  return r;
}

void put32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}
void put64(std::string& out, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

std::string patch_bytes(std::uint32_t v) {
  std::string s(4, '\0');
  put32(s, 0, v);
  return s;
}

// The record's bytes; its length word is the true length rounded up to 8,
// unless the record description overrides it.
std::string encode(const RecordSpec& r) {
  std::string out(68, '\0');
  put32(out, 4, r.returned_common);
  put32(out, 16, r.returned_file);
  put32(out, 32, r.device);
  put32(out, 36, r.type);
  put64(out, 40, static_cast<std::uint64_t>(r.seconds));
  put64(out, 48, static_cast<std::uint64_t>(r.nanoseconds));
  put32(out, 56, r.flags);
  put64(out, 60, r.file_id);
  auto append = [&](std::size_t bytes, std::uint64_t value) {
    const std::size_t at = out.size();
    out.resize(at + bytes);
    if (bytes == 4) put32(out, at, static_cast<std::uint32_t>(value));
    if (bytes == 8) put64(out, at, value);
  };
  if (r.returned_file & kBulkFileLinkCount) append(4, r.links);
  if (r.returned_file & kBulkFileTotalSize) append(8, r.size);
  if (r.returned_file & kBulkFileAllocSize) append(8, r.allocated);
  const std::size_t name_at = out.size();
  out += r.name;
  out.push_back('\0');
  put32(out, 24, static_cast<std::uint32_t>(name_at - 24));
  put32(out, 28, static_cast<std::uint32_t>(r.name.size() + 1));
  out.resize((out.size() + 7) / 8 * 8, '\0');
  put32(out, 0, r.length.value_or(static_cast<std::uint32_t>(out.size())));
  for (const auto& [at, bytes] : r.patches) {
    if (out.size() < at + bytes.size()) out.resize(at + bytes.size(), '\0');
    out.replace(at, bytes.size(), bytes);
  }
  return out;
}

// Records back to back, each starting where the previous one's length word says.
std::vector<unsigned char> reply_of(const std::vector<RecordSpec>& records) {
  std::vector<unsigned char> reply(kBulkReplySize, 0);
  std::size_t at = 0;
  for (const RecordSpec& r : records) {
    const std::string bytes = encode(r);
    for (std::size_t i = 0; i < bytes.size() && at + i < reply.size(); ++i) {
      reply[at + i] = static_cast<unsigned char>(bytes[i]);
    }
    std::uint32_t length;
    std::memcpy(&length, bytes.data(), 4);
    at += length;
  }
  return reply;
}

// ---- cases ----

struct Expected {
  std::string name;
  std::string identity;
  std::uint64_t size;
  std::uint64_t allocated;
  std::uint64_t modified;
  std::uint64_t links;
  bool directory;
};

struct ParseCase {
  std::string label;
  std::vector<RecordSpec> records;
  std::uint32_t count;
  std::optional<std::string> error;
  std::vector<Expected> admitted;
  std::uint64_t skipped;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.label; }

ParseCase fails(std::string label, std::vector<RecordSpec> records, std::string error) {
  const auto count = static_cast<std::uint32_t>(records.size());
  return {std::move(label), std::move(records), count, std::move(error), {}, 0};
}

ParseCase reads(std::string label, std::vector<RecordSpec> records, std::vector<Expected> admitted,
                std::uint64_t skipped) {
  const auto count = static_cast<std::uint32_t>(records.size());
  return {std::move(label), std::move(records), count, std::nullopt, std::move(admitted), skipped};
}

ParseCase with_count(ParseCase c, std::uint32_t count) {
  c.count = count;
  return c;
}

// The file record with default attributes.
Expected default_file(const std::string& name) {
  return {name, "16777220:4242", 10, 4096, 1700000000000000250ull, 2, false};
}

Expected default_dir(const std::string& name) {
  Expected e = default_file(name);
  e.size = 0;
  e.allocated = 0;
  e.directory = true;
  return e;
}

std::vector<ParseCase> cases() {
  const std::string unsupported = kUnsupportedBulkAttributes;
  return {
      // Lengths and bounds.
      fails("a record that would start past offset 65532",
            {with(file_record("a"), [](RecordSpec& r) { r.length = 65534; }), file_record("b")}, kInvalidBulkLength),
      fails("a record may still start at offset 65532, where only its length word fits",
            {with(file_record("a"), [](RecordSpec& r) { r.length = 65532; }),
             with(file_record("b"), [](RecordSpec& r) { r.length = 4; })},
            kInvalidBulkRecord),
      fails("a record shorter than 24 bytes", {with(file_record("a"), [](RecordSpec& r) { r.length = 23; })},
            kInvalidBulkRecord),
      fails("a record that runs past the buffer", {with(file_record("a"), [](RecordSpec& r) { r.length = 65537; })},
            kTruncatedBulkRecord),
      fails("a later record that runs past the buffer",
            {with(file_record("a"), [](RecordSpec& r) { r.length = 65496; }), file_record("b")},
            kTruncatedBulkRecord),
      // Malformed or incomplete records.
      fails("a record too short for the name reference",
            {with(file_record("a"), [](RecordSpec& r) { r.length = 28; })}, unsupported),
      fails("a record without the flags attribute",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_common &= ~0x40000u; })}, unsupported),
      fails("a record without the name attribute",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_common &= ~0x1u; })}, unsupported),
      fails("a name reference before the record",
            {with(file_record("a"), [](RecordSpec& r) { r.patches = {{24, patch_bytes(static_cast<std::uint32_t>(-25))}}; })},
            unsupported),
      fails("a name reference of length 0",
            {with(file_record("a"), [](RecordSpec& r) { r.patches = {{28, patch_bytes(0)}}; })}, unsupported),
      fails("a name that runs past the record",
            {with(file_record("a"), [](RecordSpec& r) { r.patches = {{28, patch_bytes(200)}}; })}, unsupported),
      fails("a name without its terminating NUL",
            {with(file_record("abc"), [](RecordSpec& r) { r.patches = {{88 + 3, "x"}}; })}, unsupported),
      reads("a name that is not UTF-8 is admitted with U+FFFD in its text", {file_record("bad\xFF")},
            {default_file("bad\xEF\xBF\xBD")}, 0),
      fails("a name that is dot", {file_record(".")}, unsupported),
      fails("a name that is dot dot", {dir_record("..")}, unsupported),
      fails("a name with a separator", {file_record("a/b")}, unsupported),
      fails("an empty name", {file_record("")}, unsupported),
      fails("a name with a NUL inside", {file_record(std::string("a\0b", 3))}, unsupported),
      fails("a record too short for the fixed attributes",
            {with(file_record("a"),
                  [](RecordSpec& r) {
                    r.length = 64;  // the name sits at 56, inside the fixed attributes
                    r.patches = {{24, patch_bytes(32)}, {28, patch_bytes(2)}, {56, std::string("x\0", 2)}};
                  })},
            unsupported),
      fails("a file attribute that runs past the record",
            {with(dir_record("a"),
                  [](RecordSpec& r) {
                    r.returned_file = kBulkFileLinkCount;
                    r.length = 70;  // the link count would need 72
                    r.patches = {{24, patch_bytes(44)}, {28, patch_bytes(2)}, {68, std::string("x\0", 2)}};
                  })},
            unsupported),
      fails("a file without its link count",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_file = kBulkFileTotalSize | kBulkFileAllocSize; })},
            unsupported),
      fails("a file without its total size",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_file = kBulkFileLinkCount | kBulkFileAllocSize; })},
            unsupported),
      fails("a file without its allocated size",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_file = kBulkFileLinkCount | kBulkFileTotalSize; })},
            unsupported),
      fails("an error after good records drops the reply", {file_record("a"), dir_record("b"), file_record(".")},
            unsupported),
      // Skips.
      reads("a dataless placeholder is skipped",
            {with(file_record("cloud"), [](RecordSpec& r) { r.flags = kDatalessFlag | 0x20; })}, {}, 1),
      reads("a placeholder is skipped before its file attributes are looked at",
            {with(file_record("cloud"),
                  [](RecordSpec& r) {
                    r.flags = kDatalessFlag;
                    r.returned_file = 0;
                  })},
            {}, 1),
      reads("a symbolic link is skipped", {with(file_record("link"), [](RecordSpec& r) { r.type = 5; })}, {}, 1),
      reads("an object of no type is skipped", {with(file_record("none"), [](RecordSpec& r) { r.type = 0; })}, {},
            1),
      // Admitted records and their defaults.
      reads("a file carries its attributes", {file_record("photo.jpg")}, {default_file("photo.jpg")}, 0),
      reads("the returned-attributes bit itself is not required",
            {with(file_record("a"), [](RecordSpec& r) { r.returned_common = kBulkCommonRequired; })},
            {default_file("a")}, 0),
      reads("a directory without file attributes has one link and no size",
            {with(dir_record("sub"), [](RecordSpec& r) { r.returned_file = 0; })},
            {[] {
              Expected e = default_dir("sub");
              e.links = 1;
              return e;
            }()},
            0),
      reads("a directory never carries a size", {dir_record("sub")}, {default_dir("sub")}, 0),
      reads("a directory with only its size returned",
            {with(dir_record("sub"), [](RecordSpec& r) { r.returned_file = kBulkFileTotalSize; })},
            {[] {
              Expected e = default_dir("sub");
              e.links = 1;
              return e;
            }()},
            0),
      reads("a device number of 2^32 - 1 prints unsigned",
            {with(file_record("a"), [](RecordSpec& r) { r.device = 0xFFFFFFFFu; })},
            {[] {
              Expected e = default_file("a");
              e.identity = "4294967295:4242";
              return e;
            }()},
            0),
      reads("a time before 1970 becomes 0 as in stat_entry",
            {with(file_record("old"), [](RecordSpec& r) { r.seconds = -86400; })},
            {[] {
              Expected e = default_file("old");
              e.modified = 0;
              return e;
            }()},
            0),
      reads("a negative fraction borrows from the seconds",
            {with(file_record("t"),
                  [](RecordSpec& r) {
                    r.seconds = 0;
                    r.nanoseconds = -1;
                  })},
            {[] {
              Expected e = default_file("t");
              e.modified = 0;
              return e;
            }()},
            0),
      reads("a time past 2^64 ns is 0, as in stat_entry",
            {with(file_record("far"),
                  [](RecordSpec& r) {
                    r.seconds = INT64_MAX;
                    r.nanoseconds = 3;
                  })},
            {[] {
              Expected e = default_file("far");
              e.modified = 0;
              return e;
            }()},
            0),
      reads("records are read in order, each where the previous one ends",
            {file_record("first"), with(file_record("link"), [](RecordSpec& r) { r.type = 5; }),
             with(dir_record("third"), [](RecordSpec& r) { r.length = 200; })},
            {default_file("first"), default_dir("third")}, 1),
      reads("a name of non-ASCII text", {file_record("caf\xC3\xA9")}, {default_file("caf\xC3\xA9")}, 0),
      with_count(reads("a count of 0 reads nothing", {file_record(".")}, {}, 0), 0),
  };
}

class BulkReplyParser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(BulkReplyParser, ReadsRecordsOrRefusesTheReply) {
  const ParseCase& c = GetParam();
  const std::vector<unsigned char> reply = reply_of(c.records);

  // A first reply is checked whole; the reader then decodes it as its first part.
  const auto checked = check_bulk_reply(reply.data(), c.count);
  if (c.error) {
    ASSERT_FALSE(checked.ok());
    EXPECT_EQ(checked.error(), *c.error);
    return;
  }
  ASSERT_TRUE(checked.ok()) << checked.error();
  EXPECT_EQ(*checked, c.skipped);

  CompactListing part;
  decode_bulk_part(reply.data(), c.count, part);
  EXPECT_EQ(part.skipped, c.skipped);
  EXPECT_EQ(part.errors, 0u);
  ASSERT_EQ(part.entries.size(), c.admitted.size());
  for (std::size_t i = 0; i < c.admitted.size(); ++i) {
    const Expected& want = c.admitted[i];
    const EntryMetadata& m = part.entries[i].metadata;
    EXPECT_EQ(part.name(part.entries[i]), want.name);
    EXPECT_EQ(std::to_string(m.file.device) + ":" + std::to_string(m.file.inode), want.identity);
    EXPECT_EQ(m.size, want.size);
    EXPECT_EQ(m.allocated, want.allocated);
    EXPECT_EQ(m.modified, want.modified);
    EXPECT_EQ(m.links, want.links);
    EXPECT_EQ(m.directory, want.directory);
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, BulkReplyParser, ::testing::ValuesIn(cases()),
                         [](const auto& param) { return test::test_name(param.param.label); });

TEST(BulkReplyParser, ReadsAFullBufferOfRecords) {
  // As many records as fit: the last one ends exactly at the end of the buffer.
  std::vector<RecordSpec> records;
  std::size_t used = 0;
  const std::size_t one = encode(file_record("f-00000")).size();
  while (used + 2 * one <= kBulkReplySize) {
    char name[16];
    std::snprintf(name, sizeof name, "f-%05zu", records.size());
    records.push_back(file_record(name));
    used += one;
  }
  records.push_back(with(file_record("last"), [&](RecordSpec& r) {
    r.length = static_cast<std::uint32_t>(kBulkReplySize - used);
  }));
  const auto reply = reply_of(records);
  const auto count = static_cast<std::uint32_t>(records.size());
  const auto skipped = check_bulk_reply(reply.data(), count);
  ASSERT_TRUE(skipped.ok()) << skipped.error();
  CompactListing out;
  decode_bulk_part(reply.data(), count, out);
  ASSERT_EQ(out.entries.size(), records.size());
  EXPECT_EQ(out.name(out.entries.front()), "f-00000");
  EXPECT_EQ(out.name(out.entries.back()), "last");
}

// ---- a huge directory read in parts: one reply per part ----

std::string numbered(const char* prefix, std::size_t n) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%06zu", prefix, n);
  return name;
}

// Full replies of numbered files, as getattrlistbulk returns a huge directory.
std::vector<std::vector<RecordSpec>> huge_directory_replies(std::size_t replies, std::size_t& files) {
  const std::size_t per_reply = kBulkReplySize / encode(file_record(numbered("f-", 0))).size();
  std::vector<std::vector<RecordSpec>> out(replies);
  files = 0;
  for (auto& reply : out) {
    for (std::size_t i = 0; i < per_reply; ++i) reply.push_back(file_record(numbered("f-", files++)));
  }
  return out;
}

TEST(BulkPartDecoder, AHugeDirectoryDecodedPartByPartListsEveryEntryInOrder) {
  std::size_t files = 0;
  const auto replies = huge_directory_replies(3, files);
  std::vector<CompactListing> parts(replies.size());
  for (std::size_t p = 0; p < replies.size(); ++p) {
    const auto reply = reply_of(replies[p]);
    decode_bulk_part(reply.data(), static_cast<std::uint32_t>(replies[p].size()), parts[p]);
  }
  std::size_t next = 0;
  for (const CompactListing& part : parts) {
    EXPECT_EQ(part.errors, 0u);
    EXPECT_EQ(part.skipped, 0u);
    EXPECT_TRUE(part.raw_names.empty());
    EXPECT_GT(part.entries.size(), 500u);  // each part a buffer-full (104-byte records)
    for (const ListedEntry& e : part.entries) {
      EXPECT_EQ(part.name(e), numbered("f-", next++));
      EXPECT_EQ(e.metadata.size, 10u);
      EXPECT_EQ(e.metadata.file.inode, 4242u);
    }
  }
  EXPECT_EQ(next, files);
}

TEST(BulkPartDecoder, KeepsNamesThatAreNotUtf8AsBytes) {
  const std::string latin1 = "caf\xE9.txt";  // a name written in Latin-1
  const std::vector<RecordSpec> records = {file_record("plain"), file_record(latin1), dir_record("sub\xFF\xFE"),
                                           file_record("caf\xC3\xA9")};
  const auto reply = reply_of(records);
  CompactListing part;
  decode_bulk_part(reply.data(), static_cast<std::uint32_t>(records.size()), part);
  ASSERT_EQ(part.entries.size(), 4u);
  EXPECT_EQ(part.errors + part.skipped, 0u);
  EXPECT_EQ(part.name(part.entries[1]), "caf\xEF\xBF\xBD.txt");
  EXPECT_EQ(part.name(part.entries[2]), "sub\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(part.entries[2].metadata.directory);
  // The bytes to open them by, for exactly the names that are not text.
  ASSERT_EQ(part.raw_names.size(), 2u);
  EXPECT_EQ(part.os_name(0), "plain");
  EXPECT_EQ(part.os_name(1), latin1);
  EXPECT_EQ(part.os_name(2), "sub\xFF\xFE");
  EXPECT_EQ(part.os_name(3), "caf\xC3\xA9");

  // A first reply holding them is taken whole: no reason to hand the directory
  // to the portable reader.
  EXPECT_TRUE(check_bulk_reply(reply.data(), static_cast<std::uint32_t>(records.size())).ok());
}

TEST(BulkPartDecoder, SkipsARecordItCannotReadAndGoesOn) {
  // A whole reply would send the directory to the portable reader; a later part
  // no longer can, so the one record counts as skipped.
  const std::vector<RecordSpec> records = {
      file_record("a"), with(file_record("b"), [](RecordSpec& r) { r.returned_common &= ~0x40000u; }),
      file_record("."), with(file_record("link"), [](RecordSpec& r) { r.type = 5; }), file_record("c")};
  const auto reply = reply_of(records);
  CompactListing part;
  decode_bulk_part(reply.data(), static_cast<std::uint32_t>(records.size()), part);
  ASSERT_EQ(part.entries.size(), 2u);
  EXPECT_EQ(part.name(part.entries[0]), "a");
  EXPECT_EQ(part.name(part.entries[1]), "c");
  EXPECT_EQ(part.skipped, 3u);
  EXPECT_EQ(part.errors, 0u);
  EXPECT_FALSE(check_bulk_reply(reply.data(), static_cast<std::uint32_t>(records.size())).ok());
}

TEST(BulkPartDecoder, ARecordOfUntrustedLengthEndsThePartWithOneError) {
  const std::vector<RecordSpec> records = {file_record("a"), file_record("b"),
                                           with(file_record("c"), [](RecordSpec& r) { r.length = 12; }),
                                           file_record("d")};
  const auto reply = reply_of(records);
  CompactListing part;
  decode_bulk_part(reply.data(), static_cast<std::uint32_t>(records.size()), part);
  ASSERT_EQ(part.entries.size(), 2u);  // the records before it stand
  EXPECT_EQ(part.name(part.entries[1]), "b");
  EXPECT_EQ(part.errors, 1u);
  EXPECT_EQ(part.skipped, 0u);
}

}  // namespace
}  // namespace qm
