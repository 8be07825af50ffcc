#include "core/settings_store.h"

#include "platform/paths.h"

namespace dovra {

std::string settingsFilePath(const std::string& installationId) {
  return settingsFolder() + installationId + ".dvk";
}

}  // namespace dovra
