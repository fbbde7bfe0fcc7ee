// The VBA parser on one module: the line walk, references, the parameter check and the issue
// listing of a dry run.
#include "fuzz/support.hpp"
#include "fuzz/vba.hpp"
#include "tarnwick/brimsel/declaration_line.hpp"
#include "tarnwick/text/regex.hpp"
#include "tarnwick/text/unicode.hpp"

namespace {

// The one-pass reading of a declaration line gives what the declaration pattern gives.
void check_declaration_line(std::string_view line)
{
  using namespace tarnwick;
  static const text::Regex pattern{
      R"(^\s*(Public|Private|Global|Dim|Const)\s+(?:(Const)\s+)?(?P<names>.+?)\s+As\s+(?:New\s+)?(?P<type>\w+)(?:\s*\([^)]*\))?\s*(?:=\s*.+)?$)",
      {.caseless = true, .unicode = true}};
  const std::string text = text::drop_invalid_utf8(line);
  const auto expected = pattern.match_at_start(text);
  const auto got = brimsel::match_declaration(text);
  fuzz::check(got.has_value() == expected.has_value(), "a declaration line read otherwise");
  if (got) {
    fuzz::check(got->keyword == expected->str(1) && got->const_word == expected->matched(2)
                    && got->names == *expected->group("names")
                    && got->type == *expected->group("type"),
                "a declaration line read into other parts");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  // Short lines only: the pattern itself takes the square of a line's length. The last piece of
  // the split keeps the rest of the input; the parser never hands on a line with a line end.
  for (std::string_view line : fuzz::split(fuzz::as_text(data, size), "\n", 50)) {
    if (line.size() <= 512 && line.find_first_of("\r\n") == std::string_view::npos) {
      check_declaration_line(line);
    }
  }
  brimsel::VBAParser parser;
  fuzz::parse_module(parser, "VBT/Module1.bas", fuzz::as_text(data, size));
  fuzz::run_guarded([&] {
    parser.collect_variable_references();
    parser.check_function_parameters();
    parser.collect_type_enum_references();
    const brimsel::AllIssues issues = parser.get_all_variable_issues();
    for (const auto* list : {&issues.global_variables, &issues.module_variables,
                             &issues.local_variables}) {
      for (const brimsel::VariableInfo* info : *list) {
        fuzz::check(info->correct_name.has_value(), "an issue without a suggested name");
        (void)parser.get_variable_references(info->name);
      }
    }
  });
  return 0;
}
