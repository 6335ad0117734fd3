// IdMap: a pooled map that behaves as a map when it holds more ids than
// it expected, and whose entries survive a move (the pool moves along).
#include "textio/id_map.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace korvelan::textio {
namespace {

TEST(IdMap, HoldsMoreIdsThanExpectedAndKeepsThemAcrossAMove) {
  std::vector<std::string> ids;
  for (int i = 0; i < 5000; ++i) ids.push_back("gene-with-a-long-name-" + std::to_string(i));
  for (const std::size_t expected : {0u, 1u, 100u, 5000u}) {
    IdMap<std::size_t> map(expected);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      EXPECT_TRUE(map->emplace(ids[i], i).second) << expected;
      EXPECT_FALSE(map->emplace(ids[i], i + 1).second) << expected;  // the first value stays
    }
    const IdMap<std::size_t> moved(std::move(map));
    ASSERT_EQ(moved->size(), ids.size()) << expected;
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(moved->at(ids[i]), i) << expected;
    EXPECT_EQ(moved->count("gene-with-a-long-name-5000"), 0u) << expected;
  }
}

}  // namespace
}  // namespace korvelan::textio
