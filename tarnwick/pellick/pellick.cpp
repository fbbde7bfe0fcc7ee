#include "tarnwick/pellick/pellick.hpp"

namespace tarnwick::pellick {

Pellick::Pellick() = default;

void Pellick::read_ac_spec(const std::string& ac_spec_path, const std::string& platform)
{
  read_spec(ac_spec_path, platform);
}

std::shared_ptr<const sarnet::SpecDict> Pellick::get_ac_info() const
{
  return get_info();
}

} // namespace tarnwick::pellick
