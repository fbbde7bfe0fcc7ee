#include <gtest/gtest.h>

#include "tarnwick/common/common.hpp"

using tarnwick::common::format_str;

TEST(FormatStr, ReplacesUnitsByTheirValues)
{
  EXPECT_EQ(format_str("10*NS+5*NS"), "10*(1e-09)+5*(1e-09)");
  EXPECT_EQ(format_str("2.5*MHZ"), "2.5*(1000000.0)");
  EXPECT_EQ(format_str("1*V"), "1*(1.0)");
  EXPECT_EQ(format_str("1/(3*MS)"), "1/(3*(0.001))");
  // "M" before a unit is milli, except for mega-ohm.
  EXPECT_EQ(format_str("MV+MA+MW+MOHM+KOHM+KV"),
            "(0.001)+(0.001)+(0.001)+(1000000.0)+(1000.0)+(1000.0)");
  EXPECT_EQ(format_str("S+US+PS+FS+UV+NV+A+UA+NA+PA"),
            "(1.0)+(1e-06)+(1e-12)+(1e-15)+(1e-06)+(1e-09)+(1.0)+(1e-06)+(1e-09)+(1e-12)");
  EXPECT_EQ(format_str("HZ+KHZ+GHZ+OHM+W+UW+F+UF+NF+PF"),
            "(1.0)+(1000.0)+(1000000000.0)+(1.0)+(1.0)+(1e-06)+(1.0)+(1e-06)+(1e-09)+(1e-12)");
  EXPECT_EQ(format_str("3*ns"), "3*(1e-09)");
  EXPECT_EQ(format_str("3*Mhz"), "3*(1000000.0)");
}

TEST(FormatStr, DropsEqualSignsAndWhiteSpace)
{
  EXPECT_EQ(format_str("=1.8 * 1.1"), "1.8*1.1");
  EXPECT_EQ(format_str(" = 2\t*\r\n3 "), "2*3");
  EXPECT_EQ(format_str("==4"), "4");
  EXPECT_EQ(format_str(""), "");
  EXPECT_EQ(format_str("= 10 * NS"), "10*(1e-09)");
}

TEST(FormatStr, ReplacesOnlyWholeWords)
{
  // Numbers with an exponent stay intact, "E" is not a unit.
  EXPECT_EQ(format_str("1.5E-9"), "1.5E-9");
  EXPECT_EQ(format_str("1.5E-9*2"), "1.5E-9*2");
  // A unit glued to a number, a letter, a digit or "_" is not a word of its own.
  EXPECT_EQ(format_str("10NS"), "10NS");
  EXPECT_EQ(format_str("NS10"), "NS10");
  EXPECT_EQ(format_str("_VDD*V"), "_VDD*(1.0)");
  EXPECT_EQ(format_str("NSX+XNS+_NS+NS_"), "NSX+XNS+_NS+NS_");
  EXPECT_EQ(format_str("VDD"), "VDD");
  // Non-ASCII letters join a word as well; other characters separate.
  EXPECT_EQ(format_str("ÄNS+NSÄ"), "ÄNS+NSÄ");
  EXPECT_EQ(format_str("（NS）"), "（(1e-09)）");
  // White space is removed before words are found.
  EXPECT_EQ(format_str("10 NS"), "10NS");
}
