#include "scripted/scenario.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace quorvane::scripted {
namespace {

using Json = nlohmann::json;

// A number, or one of "nan", "inf", "-inf", which JSON cannot write.
double readDouble(const Json& value) {
  if (value.is_number()) return value.get<double>();
  std::string word = value.get<std::string>();
  if (word == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (word == "inf") return std::numeric_limits<double>::infinity();
  if (word == "-inf") return -std::numeric_limits<double>::infinity();
  throw std::runtime_error("not a number: " + word);
}

AuthorizationScript readAuthorization(const Json& object) {
  AuthorizationScript script;
  script.status = object.value("status", script.status);
  script.afterRequest = object.value("afterRequest", script.afterRequest);
  script.answerDelayMs = object.value("answerDelayMs", script.answerDelayMs);
  script.answerAtOnce = object.value("answerAtOnce", script.answerAtOnce);
  script.statusDelayMs = object.value("statusDelayMs", script.statusDelayMs);
  return script;
}

RecognizerScript readRecognizer(const Json& object) {
  RecognizerScript script;
  script.available = object.value("available", script.available);
  script.onDevice = object.value("onDevice", script.onDevice);
  return script;
}

ResultStep readStep(const Json& object) {
  ResultStep step;
  std::string anchor = object.value("after", std::string("start"));
  if (anchor == "start") {
    step.anchor = ResultStep::Anchor::start;
  } else if (anchor == "endAudio") {
    step.anchor = ResultStep::Anchor::endAudio;
  } else if (anchor == "never") {
    step.anchor = ResultStep::Anchor::never;
  } else {
    throw std::runtime_error("unknown anchor: " + anchor);
  }
  step.ms = object.value("ms", 0);
  if (object.contains("text")) step.text = object["text"].get<std::string>();
  step.isFinal = object.value("final", false);
  step.hasError = object.value("error", false);
  return step;
}

}  // namespace

Scenario loadScenario(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  Json json = Json::parse(file);

  Scenario scenario;
  scenario.recordPath = json.value("record", std::string());
  if (json.contains("graceMs")) {
    scenario.grace_ns = std::chrono::milliseconds(json["graceMs"].get<int>());
  }
  if (json.contains("timeLimitMs")) {
    scenario.timeLimitSeconds = json["timeLimitMs"].get<double>() / 1000.0;
  }
  scenario.currentLocale = json.value("currentLocale", scenario.currentLocale);
  if (json.contains("version")) {
    scenario.versionMajor = json["version"].at(0).get<int>();
    scenario.versionMinor = json["version"].at(1).get<int>();
  }
  if (json.contains("speech")) scenario.speech = readAuthorization(json["speech"]);
  if (json.contains("microphone")) scenario.microphone = readAuthorization(json["microphone"]);
  if (json.contains("recognizers")) {
    for (const auto& [locale, recognizer] : json["recognizers"].items()) {
      scenario.recognizers[locale] = readRecognizer(recognizer);
    }
  }
  if (json.contains("defaultRecognizer") && !json["defaultRecognizer"].is_null()) {
    scenario.defaultRecognizer = readRecognizer(json["defaultRecognizer"]);
  }
  if (json.contains("sampleRate")) scenario.sampleRate = readDouble(json["sampleRate"]);
  scenario.channels = json.value("channels", scenario.channels);
  scenario.engineStarts = json.value("engineStarts", scenario.engineStarts);
  scenario.engineStartDelayMs = json.value("engineStartDelayMs", scenario.engineStartDelayMs);
  if (json.contains("results")) {
    for (const auto& step : json["results"]) scenario.results.push_back(readStep(step));
  }
  return scenario;
}

}  // namespace quorvane::scripted
