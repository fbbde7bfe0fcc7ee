#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tarnwick/text/lines.hpp"
#include "tarnwick/text/ordered_map.hpp"

using namespace tarnwick::text;
using Lines = std::vector<std::string>;

TEST(SplitLines, KeepsLineFeedsAndCountsLinesLikeAFile)
{
  EXPECT_EQ(split_lines(""), Lines{});
  EXPECT_EQ(split_lines("a\nb\n"), (Lines{"a\n", "b\n"}));
  EXPECT_EQ(split_lines("a\n\nb"), (Lines{"a\n", "\n", "b"}));
  EXPECT_EQ(split_lines("\n"), (Lines{"\n"}));
}

TEST(SplitCells, SplitsAtEveryTabKeepingEmptyCellsUntrimmed)
{
  EXPECT_EQ(split_cells("x\t\n"), (Row{"x", "\n"}));
  EXPECT_EQ(split_cells(" a \t\tb\n"), (Row{" a ", "", "b\n"}));
  EXPECT_EQ(split_cells(""), (Row{""}));
  EXPECT_EQ(split_cells("\t"), (Row{"", ""}));
}

TEST(ParseRows, GivesOneRowPerLine)
{
  const auto rows = parse_rows("h1\th2\n\tv\nlast");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (Row{"", "v\n"}));
  EXPECT_EQ(rows[2], (Row{"last"}));
  EXPECT_TRUE(parse_rows("").empty());
}

TEST(OrderedMap, StoringUnderAnExistingKeyKeepsItsPlace)
{
  OrderedMap<std::string, int> map;
  map["b"] = 1;
  map["a"] = 2;
  map["c"] = 3;
  map["a"] = 20;
  map.insert_or_assign("b", 10);
  std::vector<std::pair<std::string, int>> items(map.begin(), map.end());
  EXPECT_EQ(items, (std::vector<std::pair<std::string, int>>{{"b", 10}, {"a", 20}, {"c", 3}}));
}

