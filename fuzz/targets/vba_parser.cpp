// The VBA parser on one module: the line walk, references, the parameter check and the issue
// listing of a dry run.
#include "fuzz/support.hpp"
#include "fuzz/vba.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
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
