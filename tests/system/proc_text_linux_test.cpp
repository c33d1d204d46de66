#include "system/proc_text_linux.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

// A /proc/PID/stat line with the given name; the numbers are those of a real
// process, with ppid 4321, utime 250, stime 50, starttime 98765, rss 1234.
std::string stat_line(std::string_view name, char state = 'S') {
  return "777 (" + std::string(name) + ") " + state +
         " 4321 777 777 0 -1 4194560 1500 0 3 0 250 50 0 0 20 0 1 0 98765 12345678 1234 "
         "18446744073709551615 1 1 0 0 0 0 0 4096 1 0 0 0 17 1 0 0 0 0 0\n";
}

struct StatNameCase {
  const char* description;
  std::string name;
};

TEST(ProcStat, ReadsFieldsAfterTheLastParenthesisWhateverTheName) {
  const std::vector<StatNameCase> cases = {
      {"plain", "bash"},
      {"spaces", "Web Content"},
      {"closing parenthesis and spaces", "a) S 1 2 (b"},
      {"only parentheses", ")()("},
      {"empty", ""},
      {"digits and dashes like numbers", "12 34 -5"},
      {"bytes that are not UTF-8", "x\xFF\xFEy"},
  };
  for (const auto& c : cases) {
    const std::string text = stat_line(c.name);  // the parsed name points into it
    const auto stat = parse_proc_stat(text);
    ASSERT_TRUE(stat) << c.description;
    EXPECT_EQ(stat->name, c.name) << c.description;
    EXPECT_EQ(stat->state, 'S') << c.description;
    EXPECT_EQ(stat->parent_pid, 4321u) << c.description;
    EXPECT_EQ(stat->user_ticks, 250u) << c.description;
    EXPECT_EQ(stat->system_ticks, 50u) << c.description;
    EXPECT_EQ(stat->start_ticks, 98765u) << c.description;
    EXPECT_EQ(stat->resident_pages, 1234u) << c.description;
  }
}

TEST(ProcStat, ReadsTheStateOfAZombie) {
  const std::string text = stat_line("defunct", 'Z');
  const auto stat = parse_proc_stat(text);
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->state, 'Z');
}

TEST(ProcStat, RefusesTextThatIsCutShortOrMalformed) {
  const std::string full = stat_line("bash");
  const std::vector<std::string> cases = {
      "",
      "777 bash S 1",
      "777 (bash S 1 2",                             // no closing parenthesis
      full.substr(0, full.find(" 12345678")),        // ends before rss
      "777 (bash) SS 4321" + full.substr(full.find(" 777 777")),  // state of two letters
      "777 (bash) S x4321" + full.substr(full.find(" 777 777")),  // parent not a number
  };
  for (const auto& text : cases) EXPECT_FALSE(parse_proc_stat(text)) << '"' << text << '"';
}

TEST(ProcStat, ReadsANegativeResidentCountAsZero) {
  std::string text = stat_line("odd");
  text.replace(text.find(" 1234 "), 6, " -3 ");
  const auto stat = parse_proc_stat(text);
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->resident_pages, 0u);
}

TEST(ProcStatus, ThreadGroupIdIsTheTgidField) {
  // A thread's own status: its id in Pid, its process's in Tgid.
  const std::string thread = "Name:\tworker\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t400\nNgid:\t0\nPid:\t402\nPPid:\t1\n";
  EXPECT_EQ(parse_status_thread_group_id(thread), 400u);
  EXPECT_EQ(parse_status_thread_group_id("Name:\tx\nTgid:\t7\nPid:\t7\n"), 7u);
  EXPECT_EQ(parse_status_thread_group_id("Name:\tx\nPid:\t7\n"), std::nullopt);
  EXPECT_EQ(parse_status_thread_group_id("Tgid:\t\n"), std::nullopt);
  EXPECT_EQ(parse_status_thread_group_id(""), std::nullopt);
}

TEST(ProcStatus, RealUserIdIsTheFirstUidField) {
  const std::string status =
      "Name:\tsu\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t55\nPid:\t55\nPPid:\t1\n"
      "Uid:\t1000\t0\t0\t0\nGid:\t1000\t1000\t1000\t1000\n";
  EXPECT_EQ(parse_status_real_user_id(status), 1000u);
  EXPECT_EQ(parse_status_real_user_id("Name:\tx\nGid:\t1\t1\t1\t1\n"), std::nullopt);
  EXPECT_EQ(parse_status_real_user_id("Uid:\t\n"), std::nullopt);
  EXPECT_EQ(parse_status_real_user_id("Uid:\t4294967296\t0\t0\t0\n"), std::nullopt);
  EXPECT_EQ(parse_status_real_user_id("Uid:\t4294967295\t0\t0\t0\n"), 4294967295u);
}

TEST(MemInfo, ReadsTotalAndAvailableInBytes) {
  const auto info = parse_meminfo(
      "MemTotal:       24668496 kB\nMemFree:         1234 kB\nMemAvailable:   18000000 kB\nBuffers: 1 kB\n");
  EXPECT_EQ(info.total, 24668496ull * 1024);
  EXPECT_EQ(info.available, 18000000ull * 1024);
  const auto missing = parse_meminfo("MemFree: 5 kB\n");
  EXPECT_EQ(missing.total, 0u);
  EXPECT_EQ(missing.available, 0u);
}

TEST(KernelStat, ReadsPerCpuTicksAndBootTime) {
  const auto stat = parse_kernel_stat(
      "cpu  900 90 900 9000 90 9 9 9 50 0\n"
      "cpu0 100 10 200 1000 20 3 4 5 50 0\n"
      "cpu1 1 2 3 4\n"
      "intr 12345 1 2 3\n"
      "ctxt 99\n"
      "btime 1700000000\n"
      "processes 1000\n");
  ASSERT_EQ(stat.cpus.size(), 2u);  // the "cpu" total line is not a CPU
  EXPECT_EQ(stat.cpus[0].busy, 100u + 10 + 200 + 3 + 4 + 5);  // guest time not added twice
  EXPECT_EQ(stat.cpus[0].total, 100u + 10 + 200 + 3 + 4 + 5 + 1000 + 20);
  EXPECT_EQ(stat.cpus[1].busy, 6u);   // older kernels: four fields only
  EXPECT_EQ(stat.cpus[1].total, 10u);
  EXPECT_EQ(stat.boot_time, 1700000000u);
}

struct MountLineCase {
  const char* description;
  std::string line;
  std::optional<MountInfoEntry> expected;
};

TEST(MountInfo, ReadsMountPointTypeAndSource) {
  const std::vector<MountLineCase> cases = {
      {"root file system", "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard",
       MountInfoEntry{"/", "ext4", "/dev/vda"}},
      {"optional fields before the separator",
       "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 shared:7 - ext3 /dev/root rw,errors=continue",
       MountInfoEntry{"/mnt/parent", "ext3", "/dev/root"}},
      {"escaped space, tab, newline and backslash",
       R"(40 28 8:1 / /media/My\040Disk\011x\012y\134z rw - vfat /dev/sd\040b1 rw)",
       MountInfoEntry{"/media/My Disk\tx\ny\\z", "vfat", "/dev/sd b1"}},
      {"bytes that are not UTF-8", "41 28 8:2 / /mnt/\\377 rw - ext4 /dev/sdc rw",
       MountInfoEntry{"/mnt/\xFF", "ext4", "/dev/sdc"}},
      {"no separator", "28 1 254:0 / / rw,relatime ext4 /dev/vda rw", std::nullopt},
      {"nothing after the separator", "28 1 254:0 / / rw -", std::nullopt},
      {"too short", "28 1 254:0 /", std::nullopt},
      // Found by the fuzzer: a line feed where the separator is sought once made the
      // search stand still for ever.
      {"a line feed before the separator", "28 1 254:0 / / rw\n- ext4 /dev/vda rw",
       MountInfoEntry{"/", "ext4", "/dev/vda"}},
      {"a line feed and no separator", "28 1 254:0 / / rw\n", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto entry = parse_mountinfo_line(c.line);
    ASSERT_EQ(entry.has_value(), c.expected.has_value()) << c.description;
    if (!entry) continue;
    EXPECT_EQ(entry->mount_point, c.expected->mount_point) << c.description;
    EXPECT_EQ(entry->type, c.expected->type) << c.description;
    EXPECT_EQ(entry->source, c.expected->source) << c.description;
  }
}

TEST(MountInfo, LeavesBackslashesThatAreNotOctalEscapes) {
  EXPECT_EQ(unescape_mount_text(R"(a\b\0\08\400\1)"), R"(a\b\0\08\400\1)");
  EXPECT_EQ(unescape_mount_text(R"(\101\060)"), "A0");
}

struct OsReleaseCase {
  const char* description;
  const char* text;
  std::optional<std::string> expected;
};

TEST(OsRelease, PrettyNameIsUnquoted) {
  const std::vector<OsReleaseCase> cases = {
      {"double quotes", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"single quotes", "PRETTY_NAME='Fedora Linux 39 (Workstation Edition)'\n",
       "Fedora Linux 39 (Workstation Edition)"},
      {"no quotes", "PRETTY_NAME=Alpine\n", "Alpine"},
      {"escapes inside double quotes", R"(PRETTY_NAME="Say \"hi\" \\ \$HOME")", R"(Say "hi" \ $HOME)"},
      {"trailing carriage return", "PRETTY_NAME=\"Arch Linux\"\r\n", "Arch Linux"},
      {"missing", "NAME=\"Debian\"\nID=debian\n", std::nullopt},
      {"empty", "PRETTY_NAME=\"\"\n", std::nullopt},
      {"a key that only ends the same", "MY_PRETTY_NAME=\"x\"\n", std::nullopt},
      {"the last assignment wins", "PRETTY_NAME=\"One\"\nPRETTY_NAME=\"Two\"\n", "Two"},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_os_release_pretty_name(c.text), c.expected) << c.description;
}

TEST(UdevNames, HexEscapesAreDecoded) {
  EXPECT_EQ(unescape_udev_name(R"(My\x20Disk)"), "My Disk");
  EXPECT_EQ(unescape_udev_name(R"(a\x2fb\x5C)"), "a/b\\");
  EXPECT_EQ(unescape_udev_name(R"(bad\xZZ\x2)"), R"(bad\xZZ\x2)");
}

}  // namespace
}  // namespace qm
