#include "device/target_device.h"

namespace raid {
namespace {

std::optional<std::uint32_t> CodeAt(const EnclosureRegistry& registry, unsigned position) {
  if (position >= registry.current.size()) return std::nullopt;
  return registry.current[position].device_code;
}

}  // namespace

std::optional<std::uint32_t> TargetDevice(const SharedState& state,
                                          const EnclosureRegistry& registry) {
  if (state.upgrade_target_selected.load()) {
    return CodeAt(registry, state.upgrade_target_index.load());
  }
  if (state.detection_running.load()) return registry.probe_code;
  return CodeAt(registry, state.selected_device_index.load());
}

}  // namespace raid
