// Requests through the decoder and the dispatcher, as tables: every command
// before any scan, and arguments of the wrong kind.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "support/recording_progress.h"
#include "support/step_clock.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::json_text;
using test::run;
using test::TempDir;

std::string test_name(std::string description) {
  for (char& c : description) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return description;
}

// ---- before any scan

constexpr const char* kInitialSummary =
    R"(ok:{"elapsedMs":0,"entries":0,"errors":0,"generation":0,"limited":false,"mode":"","retained":0,"root":null,"skipped":0})";

struct BeforeScanCase {
  const char* description;
  const char* line;
  std::string reply;
  std::string progress;  // each stage report as "phase entries/total;"
};

void PrintTo(const BeforeScanCase& c, std::ostream* out) { *out << c.description; }

class BeforeAnyScan : public ::testing::TestWithParam<BeforeScanCase> {};

TEST_P(BeforeAnyScan, EveryCommandAnswersFromTheEmptyIndex) {
  const BeforeScanCase& c = GetParam();
  const test::StepClock frozen(std::chrono::nanoseconds(0));
  Seams seams;
  seams.clock = &frozen;
  Engine engine(seams);
  test::RecordingProgress progress;
  EXPECT_EQ(run(engine, c.line, progress), c.reply);
  std::string reported;
  for (const auto& stage : progress.stage_reports()) {
    reported += stage.phase + " " + std::to_string(stage.entries) + "/" + std::to_string(stage.total) + ";";
  }
  EXPECT_EQ(reported, c.progress);
  EXPECT_TRUE(progress.indexing_reports().empty());
  // Nothing a command does before a scan starts one.
  EXPECT_EQ(run(engine, R"({"request":2,"command":"summary"})"), kInitialSummary);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BeforeAnyScan,
    ::testing::Values(
        BeforeScanCase{"summary reports the initial state", R"({"request":1,"command":"summary"})", kInitialSummary,
                       ""},
        BeforeScanCase{"forget of the file system root changes nothing",
                       R"({"request":1,"command":"forget","args":{"paths":["/"]}})", kInitialSummary, ""},
        BeforeScanCase{"entry of the root is unknown", R"({"request":1,"command":"entry","args":{}})",
                       "error:Unknown index entry", ""},
        BeforeScanCase{"entry of another id is unknown", R"({"request":1,"command":"entry","args":{"id":1}})",
                       "error:Unknown index entry", ""},
        BeforeScanCase{"children is unknown", R"({"request":1,"command":"children","args":{"id":3}})",
                       "error:Unknown index entry", ""},
        BeforeScanCase{"large is empty rather than an error",
                       R"({"request":1,"command":"large","args":{"minimum":0,"search":"x","category":"images",)"
                       R"("categories":{"images":["jpg"],"archives":["zip"]}}})",
                       R"(ok:{"categories":{},"count":0,"items":[]})", ""},
        BeforeScanCase{"duplicates reports two empty stages and no groups", R"({"request":1,"command":"duplicates"})",
                       R"(ok:{"elapsedMs":0,"groups":[]})", "sampling 0/0;hashing 0/0;"},
        BeforeScanCase{"hash is unknown", R"({"request":1,"command":"hash","args":{"id":1}})",
                       "error:Unknown index entry", ""}),
    [](const auto& param) { return test_name(param.param.description); });

// ---- arguments of the wrong kind

// An argument counts only in its one JSON kind: given in any other kind, or
// when "args" is no object, it is absent and takes its default.
struct WrongKindCase {
  const char* description;
  const char* command;
  std::string args;        // with arguments of the wrong kind
  std::string same_as;     // the args it answers exactly like
};

void PrintTo(const WrongKindCase& c, std::ostream* out) { *out << c.description; }

// A scanned tree with files on both sides of the default minimums, and copies.
class ScannedTree {
 public:
  ScannedTree() {
    dir_.make_sparse_file("exact.bin", 104857600);
    dir_.make_sparse_file("below.bin", 104857599);
    dir_.make_sparse_file("small", 204799);
    dir_.make_sparse_file("at", 204800);
    dir_.make_sparse_file("big", 10485760);
    dir_.write_file("Holiday.JPG", std::string(2000, 'h'));
    dir_.write_file(".hidden/inside", "x");
    for (const char* name : {"copy1", "copy2"}) test::set_mtime(dir_.write_file(name, std::string(1000, 'c')), 1600000000);
    for (const char* name : {"big1", "big2"}) test::set_mtime(dir_.write_file(name, std::string(5000, 'b')), 1600000000);
  }
  const std::string& root() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// The reply with what differs from one run to the next set aside.
std::string steady(std::string reply) {
  for (const char* member : {"\"elapsedMs\":", "\"generation\":"}) {
    for (std::size_t at = reply.find(member); at != std::string::npos; at = reply.find(member, at + 1)) {
      std::size_t end = at + std::string(member).size();
      while (end < reply.size() && std::isdigit(static_cast<unsigned char>(reply[end]))) ++end;
      reply.replace(at + std::string(member).size(), end - at - std::string(member).size(), "_");
    }
  }
  return reply;
}

class WrongKindArguments : public ::testing::TestWithParam<WrongKindCase> {};

TEST_P(WrongKindArguments, AnswerAsIfTheArgumentWereAbsent) {
  static const ScannedTree tree;
  const WrongKindCase& c = GetParam();
  auto with_root = [&](std::string args) {
    for (std::size_t at; (at = args.find("BIG")) != std::string::npos;) args.replace(at, 3, json_text(tree.root() + "/big"));
    for (std::size_t at; (at = args.find("ROOT")) != std::string::npos;) args.replace(at, 4, json_text(tree.root()));
    return args;
  };
  auto line = [&](const std::string& args) {
    return std::string(R"({"request":4,"command":")") + c.command + R"(","args":)" + with_root(args) + "}";
  };
  Engine wrong;
  Engine right;
  if (std::string(c.command) != "scan") {
    const std::string scan = R"({"request":1,"command":"scan","args":{"root":)" + json_text(tree.root()) + "}}";
    ASSERT_EQ(run(wrong, scan).rfind("ok:", 0), 0u);
    ASSERT_EQ(run(right, scan).rfind("ok:", 0), 0u);
  }
  const std::string expected = steady(run(right, line(c.same_as)));
  EXPECT_EQ(steady(run(wrong, line(c.args))), expected) << c.args;
  EXPECT_NE(expected.rfind("undecodable", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, WrongKindArguments,
    ::testing::Values(
        // Integers: only a non-negative integer literal counts.
        WrongKindCase{"an id that is negative", "entry", R"({"id":-1})", "{}"},
        WrongKindCase{"an id with a fraction", "entry", R"({"id":1.5})", "{}"},
        WrongKindCase{"an id written as a float", "entry", R"({"id":2.0})", "{}"},
        WrongKindCase{"an id in a string", "entry", R"({"id":"3"})", "{}"},
        WrongKindCase{"an id that is a boolean", "entry", R"({"id":true})", "{}"},
        WrongKindCase{"an id in an array", "children", R"({"id":[1]})", "{}"},
        WrongKindCase{"an id that is an object", "children", R"({"id":{"k":1}})", "{}"},
        WrongKindCase{"an id that is null", "children", R"({"id":null})", "{}"},
        WrongKindCase{"args that are an array", "entry", "[1,2]", "{}"},
        WrongKindCase{"args that are a string", "children", R"("id")", "{}"},
        WrongKindCase{"args that are null", "large", "null", "{}"},
        WrongKindCase{"a negative minimum of large", "large", R"({"minimum":-1})", "{}"},
        WrongKindCase{"a minimum of large in a string", "large", R"({"minimum":"0"})", "{}"},
        WrongKindCase{"a fractional minimum of large", "large", R"({"minimum":1.5})", "{}"},
        WrongKindCase{"a negative offset", "large", R"({"minimum":0,"offset":-1})", R"({"minimum":0})"},
        WrongKindCase{"an offset in a string", "large", R"({"minimum":0,"offset":"1"})", R"({"minimum":0})"},
        WrongKindCase{"a negative minimum of duplicates", "duplicates", R"({"minimum":-5})", "{}"},
        WrongKindCase{"a fractional minimum of duplicates", "duplicates", R"({"minimum":3.5})", "{}"},
        WrongKindCase{"a minimum of duplicates in a string", "duplicates", R"({"minimum":"0"})", "{}"},
        WrongKindCase{"a negative minimum of scan", "scan", R"({"root":ROOT,"mode":"sizes","minimum":-5})",
                      R"({"root":ROOT,"mode":"sizes"})"},
        WrongKindCase{"a fractional minimum of scan", "scan", R"({"root":ROOT,"mode":"sizes","minimum":3.5})",
                      R"({"root":ROOT,"mode":"sizes"})"},
        WrongKindCase{"a minimum of scan in a string", "scan", R"({"root":ROOT,"mode":"sizes","minimum":"1"})",
                      R"({"root":ROOT,"mode":"sizes"})"},
        // Text: only a string counts.
        WrongKindCase{"a search that is a number", "large", R"({"minimum":0,"search":5})", R"({"minimum":0})"},
        WrongKindCase{"a search that is a boolean", "large", R"({"minimum":0,"search":true})", R"({"minimum":0})"},
        WrongKindCase{"a search in an array", "large", R"({"minimum":0,"search":["x"]})", R"({"minimum":0})"},
        WrongKindCase{"a search that is null", "large", R"({"minimum":0,"search":null})", R"({"minimum":0})"},
        WrongKindCase{"a search that is an object", "large", R"({"minimum":0,"search":{"s":"x"}})", R"({"minimum":0})"},
        WrongKindCase{"a category in an array", "large", R"({"minimum":0,"category":["other"]})", R"({"minimum":0})"},
        WrongKindCase{"a mode that is a number", "scan", R"({"root":ROOT,"mode":5})", R"({"root":ROOT})"},
        // Booleans: only true or false counts.
        WrongKindCase{"includeHidden that is a number", "scan", R"({"root":ROOT,"includeHidden":1})",
                      R"({"root":ROOT})"},
        WrongKindCase{"includeHidden in a string", "scan", R"({"root":ROOT,"includeHidden":"yes"})",
                      R"({"root":ROOT})"},
        WrongKindCase{"includeHidden in an array", "scan", R"({"root":ROOT,"includeHidden":[true]})",
                      R"({"root":ROOT})"},
        WrongKindCase{"includeHidden that is null", "scan", R"({"root":ROOT,"includeHidden":null})",
                      R"({"root":ROOT})"},
        // Arrays: only an array counts, and only its strings.
        WrongKindCase{"excluded paths in a string and names in an object", "scan",
                      R"({"root":ROOT,"excludePaths":"x","excludeNames":{"n":"big"}})", R"({"root":ROOT})"},
        WrongKindCase{"excluded names that are not strings", "scan", R"({"root":ROOT,"excludeNames":[1,null,["at"]]})",
                      R"({"root":ROOT})"},
        WrongKindCase{"only the string elements of excluded paths and names count", "scan",
                      R"({"root":ROOT,"excludePaths":[5,null,BIG,[BIG]],"excludeNames":[1,"at",{"n":"small"}]})",
                      R"({"root":ROOT,"excludePaths":[BIG],"excludeNames":["at"]})"},
        WrongKindCase{"a root that is a number is missing", "scan", R"({"root":5,"mode":"large"})", "{}"},
        WrongKindCase{"excluded paths that are a number and names that are null", "scan",
                      R"({"root":ROOT,"excludePaths":5,"excludeNames":null})", R"({"root":ROOT})"},
        // Objects: only an object counts, and only its array members.
        WrongKindCase{"categories in an array", "large", R"({"minimum":0,"categories":[["bin"]]})", R"({"minimum":0})"},
        WrongKindCase{"categories in a string", "large", R"({"minimum":0,"categories":"bin"})", R"({"minimum":0})"},
        WrongKindCase{"categories that are a number", "large", R"({"minimum":0,"categories":5})", R"({"minimum":0})"},
        WrongKindCase{"categories that are null", "large", R"({"minimum":0,"categories":null})", R"({"minimum":0})"},
        WrongKindCase{"a category that is no array", "large", R"({"minimum":0,"categories":{"data":"bin"}})",
                      R"({"minimum":0})"}),
    [](const auto& param) { return test_name(param.param.description); });

}  // namespace
}  // namespace qm
