#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support.hpp"
#include "tarnwick/olvent/evaluate.hpp"
#include "tarnwick/olvent/olvent.hpp"

namespace {

using tarnwick::olvent::evaluate_expression;
using tarnwick::olvent::EvaluationError;
using tarnwick::olvent::Olvent;
using tarnwick::olvent::OlventAccess;
using tarnwick::sarnet::SpecDict;
using tarnwick::sarnet::SelectorRows;
using tarnwick::sarnet::SpecInfo;

std::string evaluation_error(const std::string& expression)
{
  try {
    evaluate_expression(expression);
  } catch (const EvaluationError& e) {
    return e.what();
  }
  return "no error";
}

TEST(EvaluateExpression, ComputesArithmeticWithPrecedenceAndSigns)
{
  EXPECT_DOUBLE_EQ(evaluate_expression("1+2*3"), 7);
  EXPECT_DOUBLE_EQ(evaluate_expression("(1+2)*3"), 9);
  EXPECT_DOUBLE_EQ(evaluate_expression("2-3-4"), -5);
  EXPECT_DOUBLE_EQ(evaluate_expression("8/4/2"), 1);
  EXPECT_DOUBLE_EQ(evaluate_expression("7/2"), 3.5); // never integer division
  EXPECT_DOUBLE_EQ(evaluate_expression("10*(1e-09)+5*(1.5E-9)"), 17.5e-9);
  EXPECT_DOUBLE_EQ(evaluate_expression(" .5 + 5. "), 5.5);
  EXPECT_DOUBLE_EQ(evaluate_expression("-3*-2"), 6);
  EXPECT_DOUBLE_EQ(evaluate_expression("--1+(+5)"), 6);
  EXPECT_DOUBLE_EQ(evaluate_expression("-(2+3)*2"), -10);
}

TEST(EvaluateExpression, RefusesWhatIsNotArithmetic)
{
  EXPECT_EQ(evaluation_error(""), "Cannot evaluate an empty expression");
  EXPECT_EQ(evaluation_error("  "), "Cannot evaluate an empty expression");
  EXPECT_EQ(evaluation_error("1+VDD"), "Unexpected character at position 3 ('V') in expression: 1+VDD");
  EXPECT_EQ(evaluation_error("(1+2"), "Unbalanced '(' at position 1 ('(') in expression: (1+2");
  EXPECT_EQ(evaluation_error("1+2)"), "Unbalanced ')' at position 4 (')') in expression: 1+2)");
  EXPECT_EQ(evaluation_error("2(3)"),
            "Unexpected input after a complete expression at position 2 ('(') in expression: 2(3)");
  EXPECT_EQ(evaluation_error("1/0"), "Division by zero at position 2 ('/') in expression: 1/0");
  EXPECT_EQ(evaluation_error("1+"), "Missing operand at the end in expression: 1+");
  EXPECT_EQ(evaluation_error("2**3"), "Missing operand before '*' at position 3 ('*') in expression: 2**3");
  EXPECT_EQ(evaluation_error("()"), "Missing operand before ')' at position 2 (')') in expression: ()");
  EXPECT_EQ(evaluation_error("1e"), "Malformed exponent at position 2 ('e') in expression: 1e");
  EXPECT_EQ(evaluation_error("2*µ"), "Unexpected character at position 3 ('µ') in expression: 2*µ");
  EXPECT_NE(evaluation_error(std::string(5000, '(') + "1" + std::string(5000, ')')), "no error");
}

TEST(AddUnit, DividesByTheLargestThresholdNotAboveTheValue)
{
  EXPECT_EQ(Olvent::add_unit(1e9), "1.000G");
  EXPECT_EQ(Olvent::add_unit(1.25e8), "125.000M");
  EXPECT_EQ(Olvent::add_unit(1000), "1.000K");
  EXPECT_EQ(Olvent::add_unit(999.9999), "999999.900m");
  EXPECT_EQ(Olvent::add_unit(2.5), "2500.000m"); // no row for 1
  EXPECT_EQ(Olvent::add_unit(2.5e-8), "25.000n");
  EXPECT_EQ(Olvent::add_unit(1e-12), "1.000p");
  for (double none : {0.0, -5e-9, 9.99e-13, std::numeric_limits<double>::quiet_NaN(),
                      -std::numeric_limits<double>::infinity()})
    EXPECT_EQ(Olvent::add_unit(none), std::nullopt) << none;
  // An overflowing value still lies above the first threshold.
  EXPECT_EQ(Olvent::add_unit(std::numeric_limits<double>::infinity()), "infG");
}

class SpecCalculation : public ::testing::Test
{
protected:
  SpecCalculation() : engine("/nonexistent")
  {
    engine.text = [this](const std::string& line) { log.push_back(line); };
    auto global = std::make_shared<tarnwick::tiskel::GlobSpecDict>();
    (*global)["VDD"] = "1.8";
    (*global)["A"] = "2";
    (*global)["B"] = "1+2";
    engine.glob_spec_dict = global;

    // Two symbols whose spec type comes from "SELECTOR VAL" or from a selector column.
    spec["VIO"] = {{"SELECTORS TYP", "MIN"}, {"SELECTOR VAL", "TYP"},
                   {"CORE TYP", "_VREF*2"},  {"CORE MIN", "0.9"}};
    spec["VREF"] = {{"SELECTORS TYP", "TYP"}, {"SELECTOR VAL", "TYP"}, {"CORE TYP", "=0.6"}};
    spec["VDD"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "9.9"}};
  }

  std::string calc(const std::string& target, const std::string& version = "2.0",
                   const std::string& category = "Core", const std::string& selector = "Typ")
  {
    return OlventAccess::spec_calculation(engine, target, spec, version, category, selector);
  }

  std::string failure(const std::string& target, const std::string& version = "2.0")
  {
    try {
      calc(target, version);
    } catch (const tarnwick::Error& e) {
      return e.what();
    }
    return "no error";
  }

  Olvent engine;
  SpecDict spec;
  std::vector<std::string> log;
};

TEST_F(SpecCalculation, SplicesGlobalValuesAsText)
{
  EXPECT_EQ(calc("=_VDD*1.1"), "1.8*1.1");
  EXPECT_EQ(calc("=_VDD"), "1.8");
  EXPECT_EQ(calc("=(_A+_VDD)/2"), "(2+1.8)/2");
  EXPECT_EQ(calc("_A*_A"), "2*2");
  EXPECT_EQ(calc("2*_B"), "2*1+2");
  EXPECT_EQ(calc("=1.5E-9"), "1.5E-9");
  EXPECT_EQ(calc("="), "");
  EXPECT_EQ(calc(" _A + 1"), "2+ 1"); // blanks belong to the operand they stand beside
  EXPECT_TRUE(log.empty());
}

TEST_F(SpecCalculation, ReadsTheSpecTableThroughTheSpecType)
{
  // VDD is in both tables: the global one wins.
  EXPECT_EQ(calc("_VDD"), "1.8");
  // Version 2.0: spec type TYP from "SELECTOR VAL"; the value refers to VREF, resolved too.
  EXPECT_EQ(calc("_VIO+1", "2.0", "core", "typ"), "0.6*2+1");
  // Version exactly 3.0: spec type MIN from "SELECTORS TYP".
  EXPECT_EQ(calc("_VIO+1", "3.0"), "0.9+1");
  EXPECT_EQ(calc("_VIO+1", "3.00"), "0.6*2+1");
  EXPECT_EQ(calc("_VIO+1", "3"), "0.6*2+1");
  // A symbol written without the leading underscore loses its first one.
  spec["VDDIO"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "3.3"}};
  EXPECT_EQ(calc("VDD_IO"), "3.3");
  // Symbols, categories and selectors are upper-cased with the full Unicode rules.
  spec["STRASSE"] = {{"SELECTORS ÄTYP", "TYP"}, {"SELECTOR VAL", "MIN"}, {"ÜCORE TYP", "4"}};
  EXPECT_EQ(calc("_straße*2", "3.0", "üCore", "äTyp"), "4*2");
  EXPECT_TRUE(log.empty());
}

TEST_F(SpecCalculation, ReportsSymbolsItCannotResolve)
{
  EXPECT_EQ(failure("_NOPE*2"), "Spec symbol not found: NOPE");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(failure("_NOPE*2", "3.0"), "Spec symbol not found: NOPE");
  EXPECT_EQ(log, std::vector<std::string>{"Error: Can not sarnet variable: NOPE"});
  log.clear();
  // Version 3.0 and no column for the selector.
  EXPECT_EQ(calc("_VDD", "3.0", "CORE", "FAST"), "1.8"); // global: no spec type needed
  spec["VX"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "1"}};
  EXPECT_THROW(calc("_VX", "3.0", "CORE", "FAST"), tarnwick::Error);
  EXPECT_EQ(log, std::vector<std::string>{"Error: Can not sarnet variable: VX"});
  EXPECT_EQ(calc("_VX"), "1");
  spec["VY"] = {{"SELECTOR VAL", "MAX"}, {"CORE TYP", "1"}};
  EXPECT_EQ(failure("_VY"), "Spec symbol VY has no column CORE MAX");
}

TEST_F(SpecCalculation, SheetWithOneRowPerSelectorReadsTheSelectorsRow)
{
  // vdd_main_val with the rows nom (Typ), min (Min) and max (Max); the table keeps the last.
  SelectorRows rows;
  auto row = [](const std::string& type) {
    return SpecInfo{{"SELECTOR NAME", ""}, {"SELECTOR VAL", type}, {"PDL TYP", "=0.2*V"},
                    {"PDL MIN", "=0.1*V"}, {"PDL MAX", "=0.3*V"}};
  };
  for (const auto& [selector, type] :
       std::vector<std::pair<std::string, std::string>>{{"NOM", "TYP"}, {"MIN", "MIN"},
                                                        {"MAX", "MAX"}})
    rows["VDD_MAIN_VAL"][selector] = row(type);
  spec["VDD_MAIN_VAL"] = row("MAX");
  auto by_selector = [&](const std::string& selector, const std::string& version = "2.0") {
    return OlventAccess::spec_calculation(engine, "=_vdd_main_val", spec, version, "pdl",
                                          selector, &rows);
  };
  EXPECT_EQ(by_selector("min"), "0.1*V");
  EXPECT_EQ(by_selector("Nom"), "0.2*V");
  EXPECT_EQ(by_selector("MAX"), "0.3*V");
  EXPECT_TRUE(log.empty());
  // A selector that names no row of the symbol: the missing-key failure and its line.
  try {
    by_selector("fast");
    ADD_FAILURE() << "no error";
  } catch (const tarnwick::Error& e) {
    EXPECT_STREQ(e.what(), "Spec symbol vdd_main_val has no row for the selector FAST");
  }
  EXPECT_EQ(log, std::vector<std::string>{"Error: Can not sarnet variable: vdd_main_val"});
  // Selectors as columns (version 3.0) do not look at the rows.
  spec["VDD_MAIN_VAL"]["SELECTORS FAST"] = "MIN";
  EXPECT_EQ(by_selector("fast", "3.0"), "0.1*V");
}

TEST_F(SpecCalculation, NamesTheChainOfASelfReferringValue)
{
  spec["LOOP"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "_LOOP+1"}};
  EXPECT_EQ(failure("_LOOP"), "Spec symbol refers back to itself: LOOP -> LOOP");
  spec["P"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "_Q*2"}};
  spec["Q"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "1+_R"}};
  spec["R"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "(_P)"}};
  EXPECT_EQ(failure("=_P"), "Spec symbol refers back to itself: P -> Q -> R -> P");
  // The same symbol twice side by side is no cycle.
  spec["S"] = {{"SELECTOR VAL", "TYP"}, {"CORE TYP", "_A+_A"}};
  EXPECT_EQ(calc("_S*_S"), "2+2*2+2");
}

TEST_F(SpecCalculation, ResolvesEachSymbolOnceAndRefusesHugeResults)
{
  // D0 = _D1+_D1, D1 = _D2+_D2, ... D25 = 1: D0 would be 2^26 - 1 characters long.
  for (int level = 0; level < 26; ++level) {
    const std::string next = "_D" + std::to_string(level + 1);
    spec["D" + std::to_string(level)] = {{"SELECTOR VAL", "TYP"},
                                         {"CORE TYP", level < 25 ? next + "+" + next : "1"}};
  }
  const std::string d12 = calc("_D12");
  EXPECT_EQ(d12.size(), (std::size_t{1} << 14) - 1);
  EXPECT_EQ(std::count(d12.begin(), d12.end(), '1'), 1 << 13);
  std::string chain = "D0";
  for (int level = 1; level <= 10; ++level)
    chain += " -> D" + std::to_string(level);
  EXPECT_EQ(failure("=_D0*2"), "Spec expression longer than 65536 characters: " + chain);
  EXPECT_TRUE(log.empty());
}

} // namespace
