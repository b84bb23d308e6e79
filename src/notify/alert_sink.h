// Where the event detector raises alerts. The mail subsystem composes and sends them; until then
// (and in raidctl) a recorder keeps them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace raid {

enum class AlertKind : std::uint8_t {
  kHardDisksFail = 1,
  kDeviceRemoved = 2,
  kOverHeat = 3,
  kFanFail = 4,
};

struct AlertRequest {
  AlertKind kind;
  unsigned enclosure_index;
  unsigned port;
  bool operator==(const AlertRequest&) const = default;
};

class AlertSink {
 public:
  virtual ~AlertSink() = default;
  virtual void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) = 0;
};

class RecordingAlertSink : public AlertSink {
 public:
  void BuildAlertInfo(AlertKind kind, unsigned enclosure_index, unsigned port) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back({kind, enclosure_index, port});
  }
  std::vector<AlertRequest> Take() {
    std::lock_guard lock(mutex_);
    std::vector<AlertRequest> taken;
    taken.swap(alerts_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::vector<AlertRequest> alerts_;
};

}  // namespace raid
