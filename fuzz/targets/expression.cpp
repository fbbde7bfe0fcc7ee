// The value path of a level or timing cell: spec substitution, unit formatting, evaluation.
// The input is three texts separated by a line "====": a global-spec sheet export, a DC or
// AC spec sheet export, and lines of which the first is "<category>\t<selector>" and every
// further one an expression as a sheet cell holds it.

#include "fuzz/support.hpp"
#include "tarnwick/common/common.hpp"
#include "tarnwick/olvent/evaluate.hpp"
#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/sarnet/sarnet.hpp"
#include "tarnwick/tiskel/tiskel.hpp"

namespace tarnwick::olvent {

// The engine's substitution step, reached the way its white-box tests reach it.
class OlventAccess
{
public:
  static std::string spec_calculation(Olvent& engine, const std::string& target,
                                      const sarnet::SpecDict& spec_dict,
                                      const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name)
  {
    return engine.spec_calculation(target, spec_dict, spec_version, category_name, selector_name);
  }
};

} // namespace tarnwick::olvent

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  using namespace tarnwick;
  const auto parts = fuzz::split(fuzz::as_text(data, size), "\n====\n", 3);
  if (parts.size() < 3) {
    return 0;
  }
  static olvent::Olvent engine(fuzz::fresh_dir().string());
  engine.glob_spec_dict = std::make_shared<tiskel::GlobSpecDict>();
  fuzz::run_guarded([&] {
    tiskel::ParseGlobalSpec globals;
    globals.parse(parts[0], "UltraFLEX", "Global Specs.txt");
    engine.glob_spec_dict = globals.get_info();
  });
  sarnet::Sarnet specs;
  fuzz::run_guarded([&] { specs.parse(parts[1], "UltraFLEX", "DC Specs.txt"); });

  const auto lines = fuzz::split(parts[2], "\n", 64);
  const auto names = fuzz::split(lines[0], "\t", 2);
  const std::string category(names[0]);
  const std::string selector(names.size() > 1 ? names[1] : std::string_view{});
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string expression(lines[i]);
    fuzz::run_guarded([&] {
      const std::string substituted = olvent::OlventAccess::spec_calculation(
          engine, expression, *specs.get_info(), specs.get_spec_version(), category, selector);
      const std::string formatted = common::format_str(substituted);
      const double value = olvent::evaluate_expression(formatted);
      (void)olvent::Olvent::add_unit(value);
    });
  }
  return 0;
}
