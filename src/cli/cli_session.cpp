#include "cli/cli_session.h"

#include <cstdio>

#include "device/platform_disk_system.h"
#include "device/tracing_disk_system.h"
#include "sim_host.h"

namespace raid::cli {

std::unique_ptr<CliSession> CliSession::Create(const CliOptions& options, std::string& error) {
  std::unique_ptr<CliSession> session(new CliSession(options.verbose));
  std::unique_ptr<DiskSystem> disks;
  if (options.scenario) {
    sim::ScenarioParseResult loaded = sim::LoadScenarioFile(*options.scenario);
    if (!loaded.scenario) {
      error = loaded.error;
      return nullptr;
    }
    if (options.realtime) {
      session->clock_ = std::make_unique<SystemClock>();
    } else {
      // Simulated time: the protocol's waits cost nothing and the timeline runs on it.
      session->clock_ = std::make_unique<VirtualClock>(std::chrono::system_clock::now());
      session->virtual_time_ = true;
    }
    auto host = std::make_unique<sim::SimHost>(std::move(*loaded.scenario), *session->clock_);
    session->sim_host_ = host.get();
    // A monitor runs for hours; the violations found are kept, the command history is not.
    host->recorder().SetRetention(10000);
    disks = std::move(host);
    session->simulated_ = true;
  } else {
    session->clock_ = std::make_unique<SystemClock>();
    disks = CreatePlatformDiskSystem();
  }
  std::string trace_problem;
  session->disks_ = WrapWithTraceFromEnvironment(std::move(disks), &trace_problem);
  if (!trace_problem.empty()) std::fprintf(stderr, "raidctl: %s\n", trace_problem.c_str());

  CliSession& s = *session;
  s.device_ = std::make_unique<DeviceAccess>(*s.disks_, *s.clock_, s.state_);
  s.monitor_ = std::make_unique<StatusMonitor>(s.device_->commands(), *s.clock_, s.state_,
                                               s.device_->registry(), s.ui_);
  s.device_->discovery().SetStatusFiller(s.monitor_.get());
  s.monitor_->SetListener(&s);
  s.log_store_ = std::make_unique<FolderLogStore>(LogFolder());
  s.detector_ = std::make_unique<EventDetector>(s.log_, *s.log_store_, *s.clock_, s.state_,
                                                s.device_->registry(), *s.monitor_, s.alerts_);
  // One thread does the detection thread's and the RAID worker's work in turn: what discovery
  // shows can go straight to the terminal.
  s.work_ = std::make_unique<MonitorWork>(*s.device_, *s.monitor_, *s.detector_, s.state_, s.ui_);
  s.schedule_ = std::make_unique<PollingSchedule>(s.state_, s.device_->discovery(),
                                                  s.device_->registry(), *s.work_, s.view_, s.ui_);
  return session;
}

unsigned CliSession::DiscoverAndInstall() {
  schedule_->Start();
  schedule_->DriveDetectLook();
  schedule_->Timer4Timer();
  return static_cast<unsigned>(device_->registry().current.size());
}

std::vector<std::string> CliSession::ProtocolViolations() const {
  if (sim_host_ == nullptr) return {};
  std::vector<std::string> problems = sim_host_->recorder().ViolationTexts();
  for (const sim::DecodeError& error : sim_host_->recorder().DecodeErrors()) {
    problems.push_back("drive " + std::to_string(error.drive) + ": " + error.text);
  }
  return problems;
}

void CliSession::OnStatusRefreshed(std::uint8_t refreshed_mask) {
  detector_->DetectEvents(refreshed_mask);
  // The window clears this with its first status display; raidctl's display is its output.
  state_.initial_detection.store(false);
  if (after_detection_) after_detection_();
}

}  // namespace raid::cli
