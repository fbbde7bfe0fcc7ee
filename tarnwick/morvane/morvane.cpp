#include "tarnwick/morvane/morvane.hpp"

namespace tarnwick::morvane {

Morvane::Morvane() = default;

void Morvane::read_dc_spec(const std::string& dc_spec_path, const std::string& platform)
{
  read_spec(dc_spec_path, platform);
}

std::shared_ptr<const sarnet::SpecDict> Morvane::get_dc_info() const
{
  return get_info();
}

} // namespace tarnwick::morvane
