#pragma once

#include <memory>
#include <string>

#include "tarnwick/pellick/export.hpp"
#include "tarnwick/sarnet/sarnet.hpp"

namespace tarnwick::pellick {

// Reader of an AC spec sheet text export: the `Sarnet` reader under the AC names.
class TARNWICK_PELLICK_EXPORT Pellick : public sarnet::Sarnet
{
public:
  Pellick();

  // Sarnet::read_spec on `ac_spec_path`.
  void read_ac_spec(const std::string& ac_spec_path, const std::string& platform);

  // The reader's own AC spec table (Sarnet::get_info).
  std::shared_ptr<const sarnet::SpecDict> get_ac_info() const;
};

} // namespace tarnwick::pellick
