// The signal thread: a signal sent to the process stops the work and is
// remembered; ending the thread once the work is over stops nothing.
#include "tools/cli/signal_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

#include <csignal>
#include <stop_token>
#include <thread>

namespace korvelan::tools {
namespace {

using Clock = std::chrono::steady_clock;

bool StopsWithin(const std::stop_token& token, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!token.stop_requested() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return token.stop_requested();
}

// The thread's own knock at its end must not read as a signal: it once did
// where the kernel reports pthread_kill as SI_USER, and every run then
// waited out a 50 ms knock cycle before it could exit.
TEST(SignalThread, EndingItStopsNothing) {
  for (int round = 0; round < 3; ++round) {
    std::stop_token token;
    int received = -1;
    const auto start = Clock::now();
    {
      SignalThread signals;
      token = signals.token();
      received = signals.received();
    }
    const auto took = Clock::now() - start;
    EXPECT_FALSE(token.stop_requested()) << "round " << round;
    EXPECT_EQ(received, 0) << "round " << round;
    // Far above a thread's start and join even on a loaded machine, far
    // below what a missed knock costs in repeated rounds.
    EXPECT_LT(took, std::chrono::seconds(2)) << "round " << round;
  }
}

TEST(SignalThread, ASignalToTheProcessStopsTheWork) {
  for (const int signal : {SIGTERM, SIGUSR1, SIGHUP}) {
    SignalThread signals;
    ASSERT_EQ(::kill(::getpid(), signal), 0);
    EXPECT_TRUE(StopsWithin(signals.token(), std::chrono::seconds(10))) << "signal " << signal;
    EXPECT_EQ(signals.received(), signal) << "signal " << signal;
  }
}

}  // namespace
}  // namespace korvelan::tools
