// read_descriptor and write_descriptor on real pipes: the waits and retries that a
// parent's non-blocking descriptors and caught signals call for.
#include "io/descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace emvtlv {
namespace {

using std::chrono::milliseconds;

// A pipe closed at the end of the test, so a failed check leaks no descriptor.
struct test_pipe {
  int ends[2] = {-1, -1};
  test_pipe() {
    if (::pipe(ends) != 0) ADD_FAILURE() << "pipe failed";
  }
  ~test_pipe() {
    close_write();
    if (ends[0] >= 0) ::close(ends[0]);
  }
  int read_end() const { return ends[0]; }
  int write_end() const { return ends[1]; }
  void close_write() {
    if (ends[1] >= 0) ::close(ends[1]);
    ends[1] = -1;
  }
};

void set_nonblocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

TEST(ReadDescriptor, GivesWhatOneReadGivesThenZeroAtEnd) {
  test_pipe p;
  ASSERT_TRUE(write_descriptor(p.write_end(), "abc", 3));
  p.close_write();
  char buffer[16];
  ASSERT_EQ(read_descriptor(p.read_end(), buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(read_descriptor(p.read_end(), buffer, sizeof buffer), 0);
}

// A parent may leave our input non-blocking: nothing yet is a wait, not an error.
TEST(ReadDescriptor, WaitsForANonBlockingInput) {
  test_pipe p;
  set_nonblocking(p.read_end());
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(20));
    write_descriptor(p.write_end(), "late", 4);
  });
  char buffer[16];
  const std::ptrdiff_t got = read_descriptor(p.read_end(), buffer, sizeof buffer);
  writer.join();
  ASSERT_EQ(got, 4);
  EXPECT_EQ(std::string(buffer, 4), "late");
}

// Far more than a pipe holds, into a non-blocking output drained slowly: all of it
// arrives, in order.
TEST(WriteDescriptor, WritesEverythingToANonBlockingOutput) {
  test_pipe p;
  set_nonblocking(p.write_end());
  std::string data(4 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>('a' + i % 26);
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(p.read_end(), buffer, sizeof buffer);
      if (got <= 0) return;
      received.append(buffer, static_cast<std::size_t>(got));
      std::this_thread::sleep_for(milliseconds(1));
    }
  });
  const bool written = write_descriptor(p.write_end(), data.data(), data.size());
  p.close_write();
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST(Descriptors, ReportRealErrors) {
  char buffer[4];
  EXPECT_LT(read_descriptor(-1, buffer, sizeof buffer), 0);
  EXPECT_FALSE(write_descriptor(-1, "x", 1));
}

void ignore_signal(int) {}

// A signal caught without SA_RESTART interrupts the read; it is retried, not failed.
TEST(ReadDescriptor, RetriesAnInterruptedRead) {
  struct sigaction caught = {};
  caught.sa_handler = ignore_signal;
  sigemptyset(&caught.sa_mask);
  caught.sa_flags = 0;
  struct sigaction before = {};
  ASSERT_EQ(::sigaction(SIGUSR1, &caught, &before), 0);

  test_pipe p;
  std::atomic<std::ptrdiff_t> got{-2};
  char buffer[16];
  std::thread reader([&] { got = read_descriptor(p.read_end(), buffer, sizeof buffer); });
  for (int i = 0; i < 50; ++i) {
    ::pthread_kill(reader.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(got.load(), -2) << "the read ended before any input";
  EXPECT_TRUE(write_descriptor(p.write_end(), "ok", 2));
  reader.join();
  ::sigaction(SIGUSR1, &before, nullptr);
  ASSERT_EQ(got.load(), 2);
  EXPECT_EQ(std::string(buffer, 2), "ok");
}

}  // namespace
}  // namespace emvtlv
