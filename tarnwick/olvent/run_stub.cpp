// Placeholder for the run driver, which comes with the job flow walk.

#include <string>
#include <vector>

#include "tarnwick/olvent/olvent.hpp"
#include "tarnwick/text/error.hpp"

namespace tarnwick::olvent {

std::vector<std::string> Olvent::run(const std::vector<std::string>& /*job_name_set*/,
                                     const std::string& /*work_dir*/)
{
  throw Error("not implemented: the device check run");
}

} // namespace tarnwick::olvent
