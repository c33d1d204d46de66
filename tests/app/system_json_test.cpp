// The JSON forms of the "system" reply's parts.
#include "app/system_json.h"

#include <gtest/gtest.h>

#include <limits>

#include "protocol/json_writer.h"
#include "system/fake_system_provider.h"

namespace qm {
namespace {

using test::make_process;

struct WrittenRecordCase {
  const char* description;
  Process process;
  std::uint64_t total_memory;
  std::optional<std::uint32_t> own_user;
  const char* json;
};

TEST(ProcessRecordJson, HasTheSevenMembers) {
  auto with = [](Process process, auto change) {
    change(process);
    return process;
  };
  const std::vector<WrittenRecordCase> cases = {
      {"one byte of three: divided before it is scaled", make_process(7, 1), 3, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":1,)"
       R"("memoryPercent":33.33333333333333,"name":"proc7","pid":7})"},
      {"total memory 0 counts as 1", make_process(7, 5), 0, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":5,)"
       R"("memoryPercent":500.0,"name":"proc7","pid":7})"},
      {"float CPU figure widened without rounding",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = 0.1f; }), 100, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.10000000149011612,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"NaN CPU figure becomes null",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = std::numeric_limits<float>::quiet_NaN(); }), 100,
       501,
       R"({"command":"/usr/bin/proc7","cpuPercent":null,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"infinite CPU figure becomes null",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = std::numeric_limits<float>::infinity(); }), 100,
       501,
       R"({"command":"/usr/bin/proc7","cpuPercent":null,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"no executable path gives an empty command",
       with(make_process(7, 0), [](Process& p) { p.path.reset(); }), 100, 501,
       R"({"command":"","cpuPercent":0.0,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"invalid UTF-8 replaced by U+FFFD per maximal subpart",
       with(make_process(7, 0),
            [](Process& p) {
              p.name = "a\xE2\x82z\xFF";
              p.path = "/bin/\xC3";
            }),
       100, 501,
       "{\"command\":\"/bin/\xEF\xBF\xBD\",\"cpuPercent\":0.0,\"isSystem\":false,\"memoryBytes\":0,"
       "\"memoryPercent\":0.0,\"name\":\"a\xEF\xBF\xBDz\xEF\xBF\xBD\",\"pid\":7}"},
      {"another user's process is a system process", make_process(7, 0, 0), 100, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":true,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"the largest memory figure stays exact", make_process(7, UINT64_MAX), UINT64_MAX, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":18446744073709551615,)"
       R"("memoryPercent":100.0,"name":"proc7","pid":7})"},
  };
  for (const auto& c : cases) {
    const ProcessRecord record = make_process_record(c.process, c.total_memory, c.own_user);
    EXPECT_EQ(to_json(process_record_json(record)), c.json) << c.description;
  }
}


TEST(ProcessLists, NamesCoverEveryProcessAndCommandsOnlyThoseWithAPath) {
  Process no_path = make_process(20, 1);
  no_path.path.reset();
  Process duplicate = make_process(30, 1);
  duplicate.name = "proc10";
  duplicate.path = "/usr/bin/proc10";
  Process bad_name = make_process(40, 1);
  bad_name.name = "x\x80";
  ProcessTable table({make_process(10, 1), no_path, duplicate, bad_name});

  EXPECT_EQ(to_json(process_names_json(table)), "[\"proc10\",\"proc20\",\"proc10\",\"x\xEF\xBF\xBD\"]");
  EXPECT_EQ(to_json(process_commands_json(table)),
            R"(["/usr/bin/proc10","/usr/bin/proc10","/usr/bin/proc40"])");
}

TEST(ProcessLists, AreNotCutAtTwoHundred) {
  std::vector<Process> processes;
  for (Pid pid = 10; pid < 260; ++pid) processes.push_back(make_process(pid, pid));
  ProcessTable table(std::move(processes));
  EXPECT_EQ(process_names_json(table).size(), 250u);
  EXPECT_EQ(process_commands_json(table).size(), 250u);
}

TEST(VolumeJson, AMountPointThatIsNotUtf8IsWrittenWithUFFFD) {
  EXPECT_EQ(to_json(volume_records_json({Disk{"/mnt/\xFF", 1000, 400}, Disk{"/", 7, 3}})),
            "[{\"free\":400,\"mount\":\"/mnt/\xEF\xBF\xBD\",\"total\":1000},{\"free\":3,\"mount\":\"/\",\"total\":7}]");
}

}  // namespace
}  // namespace qm
