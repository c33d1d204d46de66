// "entry", "children" and "large" as the front end reaches them: request lines
// through the decoder and the dispatcher after a real "scan", and the engine binary.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "app/app_test_support.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/engine_process.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::json_text;
using test::run;

using test::TempDir;



std::string request(const std::string& command, const std::string& args) {
  return R"({"request":5,"command":")" + command + R"(","args":)" + args + "}";
}

// A tree with files on both sides of the default minimum of "large".
struct ScannedTree {
  TempDir dir;
  Engine engine;

  ScannedTree() {
    dir.make_sparse_file("exact.bin", 104857600);
    dir.make_sparse_file("below.bin", 104857599);
    dir.make_sparse_file("Holiday.JPG", 2000);
    dir.write_file("docs/notes.txt", "words");
    const std::string reply = run(engine, request("scan", R"({"root":)" + json_text(dir.path()) + "}"));
    EXPECT_EQ(reply.rfind("ok:", 0), 0u) << reply;
  }
};

TEST(QueriesThroughTheDispatcher, AMissingOrMalformedIdAddressesTheRoot) {
  ScannedTree tree;
  const std::string root_entry = run(tree.engine, request("entry", R"({"id":0})"));
  ASSERT_EQ(root_entry.rfind("ok:", 0), 0u) << root_entry;
  EXPECT_NE(root_entry.find(R"("parent":null)"), std::string::npos);
  EXPECT_NE(root_entry.find(R"("path":)" + json_text(tree.dir.path())), std::string::npos);
  const std::string root_children = run(tree.engine, request("children", R"({"id":0})"));

  for (const std::string args : {"null", "{}", "[5]", R"({"id":-1})", R"({"id":1.5})", R"({"id":"3"})", R"({"id":1e0})"}) {
    EXPECT_EQ(run(tree.engine, request("entry", args)), root_entry) << args;
    EXPECT_EQ(run(tree.engine, request("children", args)), root_children) << args;
  }
  EXPECT_EQ(run(tree.engine, R"({"request":1,"command":"entry"})"), root_entry);
  EXPECT_EQ(run(tree.engine, request("children", R"({"offset":-1})")), root_children);
  EXPECT_EQ(run(tree.engine, request("children", R"({"offset":"2"})")), root_children);
  EXPECT_EQ(run(tree.engine, request("children", R"({"offset":4})")),
            "ok:{\"items\":[],\"parent\":" + root_entry.substr(3) + "}");
  EXPECT_EQ(run(tree.engine, request("entry", R"({"id":99})")), "error:Unknown index entry");
}

TEST(QueriesThroughTheDispatcher, LargeReadsMinimumSearchCategoryTableAndOffset) {
  ScannedTree tree;
  struct Case {
    std::string args;
    std::string expected_start;  // the reply up to the first item's members
    std::vector<std::string> names;
  };
  const std::string table = R"("categories":{"images":["jpg"],"data":["bin"]})";
  const std::vector<Case> cases{
      {R"({"minimum":0})", R"(ok:{"categories":{"other":4},"count":4,)", {"exact.bin", "below.bin", "Holiday.JPG", "notes.txt"}},
      {R"({"minimum":0,"search":"HOLI"})", R"(ok:{"categories":{"other":1},"count":1,)", {"Holiday.JPG"}},
      {R"({"minimum":0,"search":"docs"})", R"(ok:{"categories":{},"count":0,)", {}},
      {R"({"minimum":0,)" + table + "}", R"(ok:{"categories":{"data":2,"images":1,"other":1},"count":4,)",
       {"exact.bin", "below.bin", "Holiday.JPG", "notes.txt"}},
      {R"({"minimum":0,"category":"images",)" + table + "}",
       R"(ok:{"categories":{"data":2,"images":1,"other":1},"count":1,)", {"Holiday.JPG"}},
      {R"({"minimum":0,"category":"other",)" + table + "}",
       R"(ok:{"categories":{"data":2,"images":1,"other":1},"count":1,)", {"notes.txt"}},
      {R"({"minimum":0,"offset":2})", R"(ok:{"categories":{"other":4},"count":4,)", {"Holiday.JPG", "notes.txt"}},
      {R"({"minimum":0,"offset":4})", R"(ok:{"categories":{"other":4},"count":4,)", {}},
  };
  for (const Case& c : cases) {
    const std::string reply = run(tree.engine, request("large", c.args));
    EXPECT_EQ(reply.rfind(c.expected_start, 0), 0u) << c.args << " -> " << reply;
    std::vector<std::string> names;
    for (std::size_t at = reply.find(R"("name":")"); at != std::string::npos; at = reply.find(R"("name":")", at + 1)) {
      const std::size_t start = at + 8;
      names.push_back(reply.substr(start, reply.find('"', start) - start));
    }
    EXPECT_EQ(names, c.names) << c.args;
  }
}

TEST(QueriesInTheEngine, ASessionBrowsesVerifiesAndListsThroughTheBinary) {
  TempDir dir;
  dir.write_file("a/one.txt", std::string(4000, '1'));
  dir.write_file("b.txt", std::string(100, 'b'));
  test::EngineProcess engine;
  engine.send_line(R"({"request":1,"command":"scan","args":{"root":)" + json_text(dir.path()) + "}}");
  // Skip any progress lines; the reply is the line that carries "result".
  for (;;) {
    const auto line = engine.read_line();
    ASSERT_TRUE(line.has_value());
    if (line->find(R"("result")") != std::string::npos) break;
  }
  const std::string children = engine.request(R"({"request":2,"command":"children"})");
  EXPECT_EQ(children.rfind(R"({"request":2,"result":{"items":[{"allocated":)", 0), 0u) << children;
  const std::size_t a_at = children.find(R"("name":"a")");
  const std::size_t b_at = children.find(R"("name":"b.txt")");
  ASSERT_NE(a_at, std::string::npos);
  ASSERT_NE(b_at, std::string::npos);
  EXPECT_LT(a_at, b_at);  // the directory holds more bytes

  test::set_mtime(dir / "b.txt", 12345);
  const std::string b_id = children.substr(children.rfind(R"("id":)", b_at) + 5);
  const std::string changed =
      engine.request(R"({"request":3,"command":"entry","args":{"id":)" + b_id.substr(0, b_id.find(',')) + "}}");
  EXPECT_EQ(changed, R"({"error":"Item changed since scan; scan again","request":3})");
  EXPECT_EQ(engine.request(R"({"request":4,"command":"large","args":{"minimum":4000}})").rfind(
                R"({"request":4,"result":{"categories":{"other":1},"count":1,"items":[{)", 0),
            0u);
  EXPECT_EQ(engine.finish(), 0);
}

}  // namespace
}  // namespace qm
