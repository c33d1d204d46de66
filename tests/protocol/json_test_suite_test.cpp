// The public JSON parsing test suite, each file's text used as the "args" of a
// request line: y_ files must decode, n_ files must be refused (by the decoder,
// or by the UTF-8 gate of the loop), i_ files must be answered without harm.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/engine_process.h"

namespace qm {
namespace {

// Vendored with its licence and origin (tests/data/json-test-suite/README.md).
const std::string kSuiteDir = QM_SOURCE_DIR "/tests/data/json-test-suite";

enum class Expect { Accept, Refuse, Either };

struct SuiteFile {
  std::string name;
  Expect expect = Expect::Either;
  std::string line;  // the request line built from it
  bool utf8 = true;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

// prefix: "y_", "n_", "i_", or "" for every file of the folder.
std::vector<SuiteFile> load(const std::string& folder, const std::string& prefix) {
  std::vector<SuiteFile> files;
  const std::string dir = kSuiteDir + "/" + folder;
  DIR* stream = ::opendir(dir.c_str());
  if (!stream) return files;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name.size() < 6 || name.substr(name.size() - 5) != ".json") continue;
    if (name.rfind(prefix, 0) != 0) continue;
    SuiteFile file;
    file.name = name;
    if (name.rfind("y_", 0) == 0) file.expect = Expect::Accept;
    if (name.rfind("n_", 0) == 0) file.expect = Expect::Refuse;
    std::string text = read_file(dir + "/" + name);
    if (text.find('\n') != std::string::npos) {
      // A line feed cannot stand inside a line; outside the n_ files it is JSON whitespace.
      if (file.expect == Expect::Refuse) continue;
      std::replace(text.begin(), text.end(), '\n', ' ');
    }
    file.line = R"({"request":1,"command":"x","args":)" + text + "}";
    file.utf8 = is_valid_utf8(file.line);
    files.push_back(std::move(file));
  }
  ::closedir(stream);
  std::sort(files.begin(), files.end(), [](const SuiteFile& a, const SuiteFile& b) { return a.name < b.name; });
  return files;
}

class JsonTestSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    // Part of the repository: missing data is a broken checkout, not a reason to skip.
    ASSERT_EQ(::access(kSuiteDir.c_str(), R_OK), 0) << "JSON test suite not found at " << kSuiteDir;
  }
};

TEST_F(JsonTestSuite, EveryValidTextDecodesAsArgsAndRendersBackToTheSameValue) {
  std::vector<SuiteFile> files = load("test_parsing", "y_");
  ASSERT_GE(files.size(), 90u);
  for (const SuiteFile& file : files) {
    ASSERT_TRUE(file.utf8) << file.name;
    auto decoded = decode_request(file.line);
    ASSERT_TRUE(std::holds_alternative<Request>(decoded))
        << file.name << ": " << std::get<DecodeError>(decoded).message;
    const JsonValue& args = std::get<Request>(decoded).args;
    auto again = decode_request(R"({"request":1,"command":"x","args":)" + to_json(args) + "}");
    ASSERT_TRUE(std::holds_alternative<Request>(again)) << file.name;
    EXPECT_EQ(std::get<Request>(again).args, args) << file.name;
  }
}

TEST_F(JsonTestSuite, EveryInvalidTextIsRefused) {
  std::vector<SuiteFile> files = load("test_parsing", "n_");
  ASSERT_GE(files.size(), 180u);
  for (const SuiteFile& file : files) {
    if (!file.utf8) continue;  // refused by the loop before decoding
    auto decoded = decode_request(file.line);
    EXPECT_TRUE(std::holds_alternative<DecodeError>(decoded)) << file.name;
  }
}

TEST_F(JsonTestSuite, TheEngineAnswersEveryUtf8LineAndExitsCleanly) {
  std::vector<SuiteFile> files;
  for (const char* folder : {"test_parsing", "test_transform"}) {
    for (SuiteFile& file : load(folder, "")) {
      if (file.utf8) files.push_back(std::move(file));
    }
  }
  ASSERT_GE(files.size(), 300u);
  test::EngineProcess engine;
  for (const SuiteFile& file : files) {
    const std::string reply = engine.request(file.line);
    if (file.expect == Expect::Accept) {
      EXPECT_EQ(reply, R"({"error":"Unknown command","request":1})") << file.name;
    } else if (file.expect == Expect::Refuse) {
      EXPECT_EQ(reply.rfind(R"({"error":")", 0), 0u) << file.name << ": " << reply;
      EXPECT_NE(reply.find(" at line 1 column "), std::string::npos) << file.name << ": " << reply;
      EXPECT_EQ(reply.find("\"request\""), std::string::npos) << file.name << ": " << reply;
    } else {
      const bool decoded = reply == R"({"error":"Unknown command","request":1})";
      const bool refused = reply.rfind(R"({"error":")", 0) == 0 && reply.find(" at line 1 column ") != std::string::npos;
      EXPECT_TRUE(decoded || refused) << file.name << ": " << reply;
    }
  }
  EXPECT_EQ(engine.finish(), 0);
}

TEST_F(JsonTestSuite, ALineThatIsNotUtf8EndsTheRunWithoutAReply) {
  std::vector<SuiteFile> files;
  for (const char* folder : {"test_parsing", "test_transform"}) {
    for (SuiteFile& file : load(folder, "")) {
      if (!file.utf8) files.push_back(std::move(file));
    }
  }
  ASSERT_GE(files.size(), 20u);
  for (const SuiteFile& file : files) {
    test::EngineProcess engine;
    // One write, so nothing is sent after the engine has stopped reading.
    engine.send(R"({"request":2,"command":"x"})" "\n" + file.line + "\n" R"({"request":3,"command":"x"})" "\n");
    EXPECT_EQ(engine.read_line(), R"({"error":"Unknown command","request":2})") << file.name;
    EXPECT_EQ(engine.finish(), 0) << file.name;
    EXPECT_EQ(engine.read_line(1000), std::nullopt) << file.name;
  }
}

}  // namespace
}  // namespace qm
