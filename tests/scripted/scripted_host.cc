// The logic on the scripted platform: runs like the product, with the
// platform played from the scenario file named by QUORVANE_SCENARIO. Only
// for tests; the product never reads a scenario.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "frame/run_loop.h"
#include "program.h"
#include "scripted/scenario.h"
#include "scripted/scripted_platform.h"

int main(int argc, char** argv) {
  const char* path = std::getenv("QUORVANE_SCENARIO");
  if (path == nullptr || *path == '\0') {
    std::fputs("quorvane-scripted-host: QUORVANE_SCENARIO is not set\n", stderr);
    return 2;
  }
  quorvane::scripted::Scenario scenario;
  try {
    scenario = quorvane::scripted::loadScenario(path);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quorvane-scripted-host: %s\n", error.what());
    return 2;
  }
  auto grace_ns = scenario.grace_ns;
  auto timeLimitSeconds = scenario.timeLimitSeconds;

  // Never destroyed, as in the product: the process ends from whichever
  // thread finishes the run.
  auto* runLoop = new quorvane::RunLoop;
  quorvane::scripted::ScriptedPlatform* scripted = nullptr;
  try {
    scripted = new quorvane::scripted::ScriptedPlatform(std::move(scenario), *runLoop);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quorvane-scripted-host: %s\n", error.what());
    return 2;
  }
  quorvane::runProgram(argc, argv, scripted->platform(), *runLoop, grace_ns, timeLimitSeconds);
}
