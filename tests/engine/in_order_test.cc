// EachInOrder: every item done once into its own slot, and a failure that
// is the plain loop's first, on any number of threads.
#include "engine/in_order.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvelan::engine {
namespace {

TEST(EachInOrder, DoesEveryItemOnce) {
  for (const std::size_t count : {0u, 1u, 2u, 5u, 100u}) {
    for (const unsigned threads : {1u, 2u, 3u, 7u}) {
      std::vector<std::size_t> slot(count, 0);
      std::atomic<std::size_t> calls{0};
      EachInOrder(count, threads, [&](std::size_t i) {
        slot[i] += i * i + 1;
        ++calls;
      });
      EXPECT_EQ(calls.load(), count) << count << " items, " << threads << " threads";
      for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(slot[i], i * i + 1) << "item " << i << " of " << count << ", " << threads;
    }
  }
}

TEST(EachInOrder, RethrowsTheFirstItemsFailure) {
  struct Case {
    const char* name;
    std::size_t count;
    std::set<std::size_t> failing;
    std::string first;  // the message the plain loop would meet first
  };
  const std::vector<Case> cases = {
      {"none fails", 8, {}, ""},
      {"the first", 8, {0}, "item 0"},
      {"the last", 8, {7}, "item 7"},
      {"two, the later one quicker", 8, {2, 5}, "item 2"},
      {"every one", 9, {0, 1, 2, 3, 4, 5, 6, 7, 8}, "item 0"},
  };
  for (const Case& c : cases) {
    for (const unsigned threads : {1u, 2u, 3u, 7u}) {
      std::string caught;
      try {
        EachInOrder(c.count, threads, [&](std::size_t i) {
          if (c.failing.count(i) > 0) throw std::runtime_error("item " + std::to_string(i));
        });
      } catch (const std::runtime_error& error) {
        caught = error.what();
      }
      EXPECT_EQ(caught, c.first) << c.name << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace korvelan::engine
