// Every pesolan and scale-sim command that the README and the Russian guide
// show, and every output they print, tried on simulated scales: a document
// that drifts from the programs fails here. (The make commands are what
// make test runs; the 1C:Enterprise code needs the platform, and the
// add-in tests make the same calls.)

#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/addin_fixture.h"
#include "support/programs.h"

using testing_support::Outcome;
using testing_support::Pesolan;
using testing_support::PlacedPty;
using testing_support::SimProcess;

namespace {

const char* const kDocuments[] = {PESOLAN_SOURCE_DIR "/README.md", PESOLAN_SOURCE_DIR "/docs/ru/README.md"};

struct Block {
  std::string lang;  // "sh", "bsl", or empty for a program's output
  std::vector<std::string> lines;
};

std::vector<Block> Blocks(const std::string& path) {
  std::ifstream file(path);
  std::vector<Block> blocks;
  bool inside = false;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("```", 0) == 0) {
      inside = !inside;
      if (inside) blocks.push_back({line.substr(3), {}});
    } else if (inside) {
      blocks.back().lines.push_back(line);
    }
  }
  return blocks;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
}

// Replaces each run of digits that follows `before` with `with`.
void ReplaceNumberAfter(std::string& text, const std::string& before, const std::string& with) {
  for (size_t at = 0; (at = text.find(before, at)) != std::string::npos;) {
    at += before.size();
    const size_t end = text.find_first_not_of("0123456789", at);
    if (end == at) continue;
    text.replace(at, end - at, with);
  }
}

// What differs between runs and machines made the same in a documented
// line and a line of output: ports, times, processes, a USB adapter's
// identity, and a pseudo-terminal's refusing 7E1 (a real port takes it).
std::string Normal(std::string line) {
  ReplaceNumberAfter(line, "127.0.0.1:", "PORT");
  ReplaceNumberAfter(line, " +", "N");
  ReplaceNumberAfter(line, "(pid ", "N");
  for (const char* holder : {"in use: ", "held by another program: "}) {
    const size_t at = line.find(holder), pid = line.find(" (pid N)");
    if (at != std::string::npos && pid != std::string::npos && pid > at) {
      line.replace(at + std::strlen(holder), pid - at - std::strlen(holder), "HOLDER");
    }
  }
  for (const char* suffix : {"; USB ", "; the port refuses --attrs 1"}) {
    const size_t at = line.find(suffix);
    if (at != std::string::npos) line.erase(at);
  }
  return line;
}

bool HasLine(const std::string& output, const std::string& documented) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (Normal(line) == Normal(documented)) return true;
  }
  return false;
}

// The scales the documents' examples meet: a stream scale on COM65, a
// silent one on COM66, a port held by this program on COM67, one that
// sends junk on COM68, and a stream and a request scale at addresses.
class UserGuides : public testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::InPrivateDev()) GTEST_SKIP() << "needs root for a private /dev (tests/private-dev.sh)";
    ASSERT_TRUE(stream_.ok() && streamPort_.ok() && silentPort_.ok() && heldPort_.ok() && junkPort_.ok());
    holder_ = open("/dev/ttyUSB2", O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder_, 0);
    ASSERT_EQ(flock(holder_, LOCK_EX | LOCK_NB), 0);
  }
  void TearDown() override {
    if (holder_ >= 0) close(holder_);
  }

  // A documented command line, made to run here: the documents' addresses
  // are the stream scale's, any COM port is COM65, a watch ends.
  std::string Runnable(std::string args) const {
    const std::string address = "127.0.0.1:" + std::to_string(tcpStream_.port());
    Replace(args, "192.168.100.100:20304", address);
    Replace(args, "127.0.0.1:20304", address);
    const size_t com = args.find("--com ");
    if (com != std::string::npos) args.replace(com, args.find(' ', com + 6) - com, "--com 65");
    if (args.find("--watch") != std::string::npos && args.find("--count") == std::string::npos) {
      args += " --count 2";
    }
    return args;
  }

  // The output that a documented block shows, made here, in the
  // document's language (lang: "--lang ru " for the Russian guide).
  Outcome OutputLike(const std::string& first, const std::string& lang) const {
    if (first.rfind("error 106", 0) == 0) return Pesolan(lang + "weight --com 68");
    if (first.rfind("error 104", 0) == 0) return Pesolan(lang + "weight --com 67");
    if (first.rfind("COM65 ", 0) == 0) return Pesolan(lang + "find");
    if (first.rfind("127.0.0.1:", 0) == 0) {
      return Pesolan(lang + "weight --tcp 127.0.0.1:" + std::to_string(request_.port()) + " --trace", "2>&1 >/dev/null");
    }
    ADD_FAILURE() << "a documented output this test does not make: " << first;
    return {};
  }

  SimProcess stream_{{"--pty"}}, silent_{{"--pty", "--mode", "silent"}}, held_{{"--pty"}};
  SimProcess junk_{{"--pty", "--mode", "junk-long"}};
  SimProcess tcpStream_{{"--tcp"}}, request_{{"--tcp", "--mode", "request"}};
  PlacedPty streamPort_{stream_.ptyPath(), 65}, silentPort_{silent_.ptyPath(), 66}, heldPort_{held_.ptyPath(), 67};
  PlacedPty junkPort_{junk_.ptyPath(), 68};
  int holder_ = -1;
};

TEST_F(UserGuides, EveryPesolanCommandRunsAsItsCommentSays) {
  int tried = 0;
  for (const char* document : kDocuments) {
    for (const Block& block : Blocks(document)) {
      if (block.lang != "sh") continue;
      for (const std::string& line : block.lines) {
        if (line.rfind("pesolan ", 0) != 0) continue;
        const size_t hash = line.find(" # ");
        const std::string comment = hash == std::string::npos ? "" : line.substr(line.find_first_not_of(" #", hash));
        std::string args = line.substr(8, hash == std::string::npos ? std::string::npos : hash - 8);
        const Outcome r = Pesolan(Runnable(args), "2>/dev/null");
        ++tried;
        EXPECT_EQ(r.status, 0) << document << ": " << line << "\n" << r.out;
        // "# one weight in kilograms: 12.345 kg", "# {"schema":1,"ok":true,...}"
        const size_t colon = comment.rfind(": ");
        if (comment.rfind("{", 0) == 0) {
          EXPECT_EQ(testing_support::Clockless(r.out), testing_support::Clockless(comment) + "\n") << document << ": " << line;
        } else if (colon != std::string::npos && std::isdigit(static_cast<unsigned char>(comment[colon + 2]))) {
          EXPECT_NE(r.out.find(comment.substr(colon + 2)), std::string::npos) << document << ": " << line << "\n" << r.out;
        }
      }
    }
  }
  EXPECT_GE(tried, 18);
}

TEST_F(UserGuides, EveryScaleSimCommandStarts) {
  int tried = 0;
  for (const Block& block : Blocks(kDocuments[0])) {
    if (block.lang != "sh") continue;
    for (const std::string& line : block.lines) {
      if (line.rfind("scale-sim ", 0) != 0) continue;
      std::string args = line.substr(10, line.find(" # ") - 10);
      Replace(args, "--tcp 20304", "--tcp 0");  // a fixed port may be taken here
      const Outcome r = testing_support::ScaleSim(args + " --lifetime 1", "2>/dev/null");
      ++tried;
      EXPECT_EQ(r.status, 0) << line;
      EXPECT_TRUE(r.out.rfind("tcp 127.0.0.1 ", 0) == 0 || r.out.rfind("pty /dev/pts/", 0) == 0) << line << ": " << r.out;
    }
  }
  EXPECT_GE(tried, 8);
}

TEST_F(UserGuides, EveryOutputShownIsWhatTheProgramPrints) {
  int shown = 0;
  for (const char* document : kDocuments) {
    for (const Block& block : Blocks(document)) {
      if (!block.lang.empty() || block.lines.empty()) continue;
      const Outcome r = OutputLike(block.lines.front(), document == kDocuments[1] ? "--lang ru " : "");
      ++shown;
      for (const std::string& line : block.lines) {
        if (line.empty()) continue;
        EXPECT_TRUE(HasLine(r.out, line)) << document << ":\n" << line << "\nnot in:\n" << r.out;
      }
    }
  }
  EXPECT_GE(shown, 5);
}

}  // namespace
