#include "app/dispatcher.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/command_args.h"
#include "protocol/args.h"

namespace qm {
namespace {

using test::args_of;

struct NameCase {
  std::string name;
  CommandName expected;
};

class CommandNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(CommandNames, AreMatchedByExactBytes) { EXPECT_EQ(command_by_name(GetParam().name), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, CommandNames,
    ::testing::Values(NameCase{"scan", CommandName::Scan}, NameCase{"hash", CommandName::Hash},
                      NameCase{"large", CommandName::Large}, NameCase{"entry", CommandName::Entry},
                      NameCase{"forget", CommandName::Forget}, NameCase{"system", CommandName::System},
                      NameCase{"summary", CommandName::Summary}, NameCase{"measure", CommandName::Measure},
                      NameCase{"children", CommandName::Children}, NameCase{"terminate", CommandName::Terminate},
                      NameCase{"duplicates", CommandName::Duplicates}, NameCase{"SCAN", CommandName::Unknown},
                      NameCase{"Scan", CommandName::Unknown}, NameCase{"", CommandName::Unknown},
                      NameCase{"sca", CommandName::Unknown}, NameCase{"scan ", CommandName::Unknown},
                      NameCase{"duplicatess", CommandName::Unknown}, NameCase{"duplicates\n", CommandName::Unknown},
                      NameCase{std::string("scan\0", 5), CommandName::Unknown},
                      NameCase{"enter", CommandName::Unknown}, NameCase{"childre", CommandName::Unknown}));

struct DispatchCase {
  std::string command;
  std::string args;
  std::string error;
};

class DispatcherRefusals : public ::testing::TestWithParam<DispatchCase> {};

// Failures the dispatcher itself produces, before any command runs.
TEST_P(DispatcherRefusals, AnswerWithTheirOwnText) {
  Engine engine;
  Request request;
  request.request = 9;
  request.command = GetParam().command;
  request.args = args_of(GetParam().args);
  NoProgress quiet;
  const CommandResult result = dispatch_command(engine, request, quiet);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DispatcherRefusals,
    ::testing::Values(DispatchCase{"SCAN", R"({"root":"/"})", "Unknown command"},
                      DispatchCase{"", "null", "Unknown command"},
                      DispatchCase{"duplicatesx", "null", "Unknown command"},
                      DispatchCase{"scan", "null", "Missing root"}, DispatchCase{"scan", R"({"root":5})", "Missing root"},
                      DispatchCase{"scan", R"(["/"])", "Missing root"},
                      DispatchCase{"scan", R"({"Root":"/"})", "Missing root"},
                      DispatchCase{"forget", "null", "Missing paths"},
                      DispatchCase{"forget", R"({"paths":"/tmp"})", "Missing paths"},
                      DispatchCase{"measure", R"({"paths":{"a":"/tmp"}})", "Missing paths"},
                      DispatchCase{"measure", R"({"paths":"/tmp"})", "Missing paths"},
                      DispatchCase{"terminate", "null", "Missing PID"},
                      DispatchCase{"terminate", R"({"pid":"123"})", "Missing PID"},
                      DispatchCase{"terminate", R"({"pid":-5})", "Missing PID"},
                      DispatchCase{"terminate", R"({"pid":12.0})", "Missing PID"},
                      DispatchCase{"terminate", R"({"pid":1e3,"force":true})", "Missing PID"}));

struct IdCase {
  std::string args;
  std::uint64_t id;
};

class EntryIds : public ::testing::TestWithParam<IdCase> {};

TEST_P(EntryIds, CountOnlyAsNonNegativeIntegers) { EXPECT_EQ(read_entry_id(args_of(GetParam().args)), GetParam().id); }

INSTANTIATE_TEST_SUITE_P(Table, EntryIds,
                         ::testing::Values(IdCase{"null", 0}, IdCase{"[5]", 0}, IdCase{R"({"id":-1})", 0},
                                           IdCase{R"({"id":1.5})", 0}, IdCase{R"({"id":2.0})", 0},
                                           IdCase{R"({"id":"3"})", 0}, IdCase{R"({"id":true})", 0},
                                           IdCase{R"({"id":7})", 7}, IdCase{R"({"ID":7})", 0},
                                           IdCase{R"({"id":18446744073709551615})", 18446744073709551615u},
                                           IdCase{R"({"id":1,"id":4})", 4}));

struct ScanCase {
  std::string args;
  std::string expected;  // root|mode|minimum|hidden|paths|names
};

std::string describe(const ScanRequest& scan) {
  std::string out = scan.root + "|" + scan.mode + "|" + std::to_string(scan.minimum) + "|" +
                    (scan.include_hidden ? "hidden" : "-") + "|";
  for (const auto& path : scan.exclude_paths) out += path + ",";
  out += "|";
  for (const auto& name : scan.exclude_names) out += name + ",";
  return out;
}

class ScanArguments : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanArguments, AreReadWithTheirDefaults) {
  const Result<ScanRequest> scan = read_scan_args(args_of(GetParam().args));
  ASSERT_TRUE(scan.ok()) << scan.error();
  EXPECT_EQ(describe(*scan), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanArguments,
    ::testing::Values(
        ScanCase{R"({"root":"/r"})", "/r|analysis|204800|-||"},
        ScanCase{R"({"root":"/r","mode":"large","minimum":1})", "/r|large|10485760|-||"},
        ScanCase{R"({"root":"/r","mode":"large","minimum":"x"})", "/r|large|10485760|-||"},
        ScanCase{R"({"root":"/r","mode":"Large","minimum":1})", "/r|Large|1|-||"},
        ScanCase{R"({"root":"/r","mode":"files","minimum":0})", "/r|files|0|-||"},
        ScanCase{R"({"root":"/r","mode":7,"minimum":-1})", "/r|analysis|204800|-||"},
        ScanCase{R"({"root":"/r","minimum":1.5,"includeHidden":true})", "/r|analysis|204800|hidden||"},
        ScanCase{R"({"root":"/r","includeHidden":"yes"})", "/r|analysis|204800|-||"},
        ScanCase{R"({"root":"","excludePaths":["/a",1,null,"/b",["/c"]],"excludeNames":[".git",{},"node_modules"]})",
                 "|analysis|204800|-|/a,/b,|.git,node_modules,"},
        ScanCase{R"({"root":"/r","excludePaths":"/a","excludeNames":{"n":".git"}})", "/r|analysis|204800|-||"}));

// The categories as "name:ext,ext;" in the order the command gets them.
std::string describe(const std::vector<Category>& categories) {
  std::string out;
  for (const Category& category : categories) {
    out += category.name + ":";
    for (const std::string& extension : category.extensions) out += extension + ",";
    out += ";";
  }
  return out;
}

TEST(LargeArguments, AreReadWithTheirDefaults) {
  const LargeQuery defaults = read_large_args(args_of("null"));
  EXPECT_EQ(defaults.minimum, 104857600u);
  EXPECT_EQ(defaults.search, "");
  EXPECT_EQ(defaults.category, "all");
  EXPECT_TRUE(defaults.categories.empty());
  EXPECT_EQ(defaults.offset, 0u);

  const LargeQuery given = read_large_args(args_of(
      R"({"minimum":0,"search":"Foo","category":"video","categories":{"video":["mp4"]},"offset":100})"));
  EXPECT_EQ(given.minimum, 0u);
  EXPECT_EQ(given.search, "Foo");
  EXPECT_EQ(given.category, "video");
  EXPECT_EQ(describe(given.categories), "video:mp4,;");
  EXPECT_EQ(given.offset, 100u);

  const LargeQuery wrong = read_large_args(
      args_of(R"({"minimum":-1,"search":5,"category":null,"categories":[1],"offset":-1})"));
  EXPECT_EQ(wrong.minimum, 104857600u);
  EXPECT_EQ(wrong.search, "");
  EXPECT_EQ(wrong.category, "all");
  EXPECT_TRUE(wrong.categories.empty());
  EXPECT_EQ(wrong.offset, 0u);
}

TEST(LargeArguments, CategoriesAreTheArrayMembersInKeyByteOrderWithTheirStringElements) {
  const LargeQuery read = read_large_args(args_of(
      R"({"categories":{"photos":["jpg"],"Pictures":["jpg","png"],"images":["jpg",1,null,["gif"]],)"
      R"("notes":"txt","empty":[],"other":{"a":"b"}}})"));
  EXPECT_EQ(describe(read.categories), "Pictures:jpg,png,;empty:;images:jpg,;photos:jpg,;");
}

TEST(TerminateArguments, TakeThePidUpToTheLargestProcessIdAndForceOnlyWhenTrue) {
  struct Case {
    std::string args;
    std::optional<std::uint32_t> pid;  // nullopt: "Missing PID"
    bool force;
  };
  const std::vector<Case> cases = {
      {R"({"pid":123})", 123, false},
      {R"({"pid":123,"force":"yes"})", 123, false},
      {R"({"pid":123,"force":true})", 123, true},
      {R"({"pid":0})", 0, false},
      {R"({"pid":2147483647})", 2147483647u, false},
      // Beyond the largest pid nothing is cut down to a real id: 2^32 + 1 is not process 1.
      {R"({"pid":2147483648})", std::nullopt, false},
      {R"({"pid":4294967295})", std::nullopt, false},
      {R"({"pid":4294967297,"force":true})", std::nullopt, false},
      {R"({"pid":18446744073709551615})", std::nullopt, false},
  };
  for (const Case& c : cases) {
    const Result<TerminateArgs> terminate = read_terminate_args(args_of(c.args));
    if (!c.pid) {
      ASSERT_FALSE(terminate.ok()) << c.args;
      EXPECT_EQ(terminate.error(), "Missing PID") << c.args;
      continue;
    }
    ASSERT_TRUE(terminate.ok()) << c.args;
    EXPECT_EQ(terminate->pid, *c.pid) << c.args;
    EXPECT_EQ(terminate->force, c.force) << c.args;
  }
}

TEST(PathsArgument, IsPassedThroughWithEveryElement) {
  const JsonValue args = args_of(R"({"paths":["/a",5,null,"/b"]})");
  const Result<const JsonArray*> paths = read_paths_arg(args);
  ASSERT_TRUE(paths.ok());
  EXPECT_EQ(*paths, &arg_value(args, "paths").as_array());  // the array itself, not a copy
  EXPECT_EQ((*paths)->size(), 4u);
  const JsonValue empty_args = args_of(R"({"paths":[]})");
  const Result<const JsonArray*> empty = read_paths_arg(empty_args);
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE((*empty)->empty());
}

}  // namespace
}  // namespace qm
