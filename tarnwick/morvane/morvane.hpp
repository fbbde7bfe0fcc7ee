#pragma once

#include <memory>
#include <string>

#include "tarnwick/morvane/export.hpp"
#include "tarnwick/sarnet/sarnet.hpp"

namespace tarnwick::morvane {

// Reader of a DC spec sheet text export: the `Sarnet` reader under the DC names.
class TARNWICK_MORVANE_EXPORT Morvane : public sarnet::Sarnet
{
public:
  Morvane();

  // Sarnet::read_spec on `dc_spec_path`.
  void read_dc_spec(const std::string& dc_spec_path, const std::string& platform);

  // The reader's own DC spec table (Sarnet::get_info).
  std::shared_ptr<const sarnet::SpecDict> get_dc_info() const;
};

} // namespace tarnwick::morvane
