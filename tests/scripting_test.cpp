// The built emvtlv as scripts and CI drive it: exit statuses, error messages, records
// given as arguments, byte-order marks and reads of any size.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "child_process.h"

namespace emvtlv {
namespace {

using strings = std::vector<std::string>;
using std::chrono::milliseconds;

const std::string good = "9F270180\n77 05 9F 36 02 00 01\n";
const std::string bad = "9F270180\nZZ\n";
const std::string full_disk = "emvtlv: write error: No space left on device\n";

struct status_case {
  const char* name;
  strings args;
  std::string input;
  std::optional<std::string> stdout_file;  // instead of a pipe
  std::string err;
  int exit_status;
};

void PrintTo(const status_case& c, std::ostream* os) {
  *os << c.name;
}

class ExitStatus : public ::testing::TestWithParam<status_case> {};

TEST_P(ExitStatus, SaysWhatWentWrongOnceAndExitsSo) {
  const status_case& c = GetParam();
  test::run_options options;
  options.args = c.args;
  options.stdout_file = c.stdout_file;
  const test::run_result got = test::run_program(EMVTLV_PROGRAM, c.input, options);
  EXPECT_EQ(got.err, c.err);
  EXPECT_EQ(got.exit_status, c.exit_status);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExitStatus,
    ::testing::Values(
        status_case{"GoodTree", {"-t"}, good, {}, "", 0},
        status_case{"GoodJson", {"-j", "--strict"}, good, {}, "", 0},
        status_case{"GoodPaths", {"-p", "--strict"}, good, {}, "", 0},
        status_case{"GoodConsole", {"-q", "--strict"}, "9F270180\n", {}, "", 0},
        status_case{"UnreadableFile",
                    {"-t", "/nonexistent/cards.log"},
                    "",
                    {},
                    "emvtlv: /nonexistent/cards.log: No such file or directory\n",
                    2},
        status_case{"DirectoryAsFile", {"-p", "/"}, "", {}, "emvtlv: /: Is a directory\n", 2},
        status_case{"FullDiskTree", {"-t"}, good, "/dev/full", full_disk, 2},
        status_case{"FullDiskJson", {"-j"}, good, "/dev/full", full_disk, 2},
        status_case{"FullDiskPaths", {"-p"}, good, "/dev/full", full_disk, 2},
        status_case{"FullDiskExplain", {"-xq"}, good, "/dev/full", full_disk, 2},
        status_case{"FullDiskConsoleQuiet", {"-q"}, good, "/dev/full", full_disk, 2},
        status_case{"FullDiskHelp", {"--help"}, "", "/dev/full", full_disk, 2},
        // The classic console writes nothing on standard error, ever.
        status_case{"FullDiskClassicConsole", {}, good, "/dev/full", "", 2},
        status_case{"BadRecordTree", {"-t"}, bad, {}, "", 0},
        status_case{"BadRecordTreeStrict", {"-t", "--strict"}, bad, {}, "", 1},
        status_case{"BadRecordJsonStrict", {"--strict", "-j"}, bad, {}, "", 1},
        status_case{"BadRecordPathsStrict", {"-p", "--strict"}, "9F2702 01\n", {}, "", 1},
        status_case{"BadRecordExplainStrict", {"-x", "--strict"}, "82 03 19 80 00\n", {}, "", 1},
        status_case{"BadRecordConsole", {"-q"}, "5A02FFFF\n", {}, "", 0},
        status_case{"BadRecordConsoleStrict", {"-q", "--strict"}, "5A02FFFF\n", {}, "", 1},
        status_case{"UnknownTagConsoleStrict", {"--strict"}, "DF01\n", {}, "", 1},
        // A finding in any FILE counts; trouble outweighs findings.
        status_case{"FindingInALaterFile", {"-p", "--strict", "/dev/null", "-"}, bad, {}, "", 1},
        status_case{"TroubleOutweighsFindings",
                    {"-p", "--strict", "-", "/nonexistent/cards.log"},
                    bad,
                    {},
                    "emvtlv: /nonexistent/cards.log: No such file or directory\n",
                    2}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Through bash, for what the test's own pipes cannot set up: standard input from a
// directory, and a reader that goes away (with SIGPIPE as it comes, and ignored).
// "$0" is the program, run through EMVTLV_TEST_WRAPPER when it is set; bash itself
// is not.
test::run_result run_bash(std::string script, const std::string& file = "") {
  for (std::size_t at = script.find("\"$0\""); at != std::string::npos;
       at = script.find("\"$0\"", at + 30))
    script.replace(at, 4, "${EMVTLV_TEST_WRAPPER-} \"$0\"");
  const char* wrapper = std::getenv("EMVTLV_TEST_WRAPPER");
  const std::string saved = wrapper == nullptr ? "" : wrapper;
  ::unsetenv("EMVTLV_TEST_WRAPPER");
  test::run_options options;
  options.args = {"-c", "export EMVTLV_TEST_WRAPPER='" + saved + "'; " + script, EMVTLV_PROGRAM,
                  file};
  const test::run_result result = test::run_program("/bin/bash", "", options);
  if (wrapper != nullptr) ::setenv("EMVTLV_TEST_WRAPPER", saved.c_str(), 1);
  return result;
}

TEST(ExitStatus, UnreadableStandardInputIsNamedDash) {
  for (const char* mode : {"-t", "-j", "-p", "-q"}) {
    const test::run_result got = run_bash(std::string("\"$0\" ") + mode + " < /");
    EXPECT_EQ(got.err, "emvtlv: -: Is a directory\n") << mode;
    EXPECT_EQ(got.exit_status, 2) << mode;
  }
}

class ClosedPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/emvtlv-pipe-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = pattern;
    std::ofstream big(path_, std::ios::binary);
    for (int i = 0; i < 100000; ++i)
      big << "77129F2701809F360200015A0847617390010100109000\n";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

// As cat: nothing on standard error when the reader goes away.
TEST_F(ClosedPipe, StaysSilent) {
  for (const char* mode : {"-t", "-j", "-p", "-xq", "-q"}) {
    SCOPED_TRACE(mode);
    const std::string run = std::string("\"$0\" ") + mode + " \"$1\" | head -c 100 > /dev/null";
    const test::run_result killed = run_bash(run + "; exit ${PIPESTATUS[0]}", path_);
    EXPECT_EQ(killed.err, "");
    EXPECT_EQ(killed.exit_status, 128 + SIGPIPE);
    const test::run_result ignored =
        run_bash("trap '' PIPE; " + run + "; exit ${PIPESTATUS[0]}", path_);
    EXPECT_EQ(ignored.err, "");
    EXPECT_EQ(ignored.exit_status, 2);
  }
}

// Each FILE is closed once read: twice as many FILEs as descriptors may be open at once
// are all read, in every mode.
TEST(ManyFiles, MoreThanTheDescriptorLimit) {
  if (std::getenv("EMVTLV_TEST_WRAPPER") != nullptr)
    GTEST_SKIP() << "a wrapper such as valgrind needs descriptors of its own";
  for (const char* mode : {"-q", "-t", "-j", "-p", "-a"}) {
    SCOPED_TRACE(mode);
    const test::run_result got = run_bash(
        std::string("d=$(mktemp -d) && for i in $(seq 24); do echo 9F270180 > $d/$i; done && "
                    "(ulimit -n 12 && \"$0\" ") +
        mode + " --no-filename $d/*); s=$?; rm -r \"$d\"; exit $s");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.exit_status, 0);
    // Trace mode ends a session with each FILE; the others print the record's value.
    const std::string each = std::string(mode) == "-a" ? "summary of session" : "80";
    std::size_t read = 0;
    for (std::size_t at = got.out.find(each); at != std::string::npos;
         at = got.out.find(each, at + 1))
      ++read;
    EXPECT_EQ(read, 24u);
  }
}

// A FILE that a slow writer fills a byte at a time is still read to its end.
TEST(SlowFile, ReadsOfOneByteDecodeTheWhole) {
  for (const char* mode : {"-p", "-q"}) {
    test::run_options options;
    options.args = {mode, "/dev/stdin"};
    options.writer.step = 1;
    options.writer.pause = milliseconds(2);
    const test::run_result got = test::run_program(EMVTLV_PROGRAM, "9F270180\n880102\n", options);
    EXPECT_EQ(got.out, std::string(mode) == "-p"
                           ? "9F27 80\n88 02\n"
                           : "Cryptogram Information Data: 80\nShort File Identifier (SFI): 02\n");
    EXPECT_EQ(got.exit_status, 0);
  }
}

}  // namespace
}  // namespace emvtlv
