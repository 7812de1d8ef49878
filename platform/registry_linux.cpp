// Linux browsers find native hosts through files alone; nothing calls these.
#include <stdexcept>

#include "platform/registry.h"

namespace vn::platform {

std::optional<std::string> ReadUserRegistryDefault(const std::string&) { return std::nullopt; }

void WriteUserRegistryDefault(const std::string&, const std::string&) {
  throw std::runtime_error("there is no registry on this system");
}

void RemoveUserRegistryDefault(const std::string&) {
  throw std::runtime_error("there is no registry on this system");
}

}  // namespace vn::platform
