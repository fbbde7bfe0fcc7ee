#pragma once

#include <stdexcept>
#include <string>

#include "tarnwick/text/export.hpp"

namespace tarnwick {

// Base of every error the project throws. Exception types carry the export macro so that a
// catch in another library matches them.
class TARNWICK_TEXT_EXPORT Error : public std::runtime_error
{
public:
  explicit Error(const std::string& message);
  ~Error() override;
};

// A file or folder that does not exist (also the empty path). Callers that must tell a missing
// file apart from other failures catch this one.
class TARNWICK_TEXT_EXPORT FileNotFoundError : public Error
{
public:
  explicit FileNotFoundError(const std::string& message);
  ~FileNotFoundError() override;
};

} // namespace tarnwick
