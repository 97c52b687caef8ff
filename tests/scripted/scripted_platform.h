#pragma once

#include <memory>

#include "platform/platform.h"
#include "scripted/scenario.h"

namespace quorvane::scripted {

// The platform services played from a scenario, for process tests of the
// logic. Each call the logic makes is appended to the scenario's record file,
// one line per call, with one write() each so that the record survives an
// immediate process exit. Results reach the task's handler through the main
// queue, as on a real platform, each recorded there as "task.result N" (N:
// the step's position in the scenario) just before the handler gets it.
// Lives until the process ends.
class ScriptedPlatform {
 public:
  ScriptedPlatform(Scenario scenario, platform::MainQueue& mainQueue);
  ~ScriptedPlatform();
  ScriptedPlatform(const ScriptedPlatform&) = delete;
  ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

  platform::Platform& platform();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::scripted
