#include "tarnwick/text/error.hpp"

namespace tarnwick {

Error::Error(const std::string& message) : std::runtime_error(message)
{
}

Error::~Error() = default;

FileNotFoundError::FileNotFoundError(const std::string& message) : Error(message)
{
}

FileNotFoundError::~FileNotFoundError() = default;

} // namespace tarnwick
