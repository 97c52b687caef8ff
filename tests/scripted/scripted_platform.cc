#include "scripted/scripted_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane::scripted {
namespace {

using platform::AudioFormat;
using platform::PcmBuffer;
using platform::RecognitionResult;
using platform::ResultHandler;
using platform::TapBlock;

// Frames in each synthetic buffer, and how often the engine hands one over.
constexpr std::size_t kFramesPerBuffer = 256;
constexpr std::chrono::milliseconds kBufferInterval{5};

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The record of platform calls. Each line is written whole with one write()
// to a descriptor opened for appending, so any thread may note a call and
// nothing is lost when the process ends with _exit.
class CallRecord {
 public:
  explicit CallRecord(const std::string& path) {
    if (path.empty()) return;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::runtime_error("cannot open the record " + path);
  }

  void note(const std::string& call) const {
    if (fd_ < 0) return;
    std::string line = call + "\n";
    // A short write of a few bytes to a regular file does not happen; if it
    // does, the test reading the record fails on the mangled line.
    [[maybe_unused]] ssize_t written = ::write(fd_, line.data(), line.size());
  }

 private:
  int fd_ = -1;
};

// The recognition results of the session, each handed to the task's handler
// through the main queue at its time after its anchor. Results keep coming
// after the task is cancelled, like results already in flight. Each one is
// recorded as "task.result N", N being its position among the scenario's
// steps, on the main queue right before the handler gets it; so the record
// tells which results the logic had been handed, in order, before anything
// it did later on the main queue.
class ResultFeed {
 public:
  ResultFeed(platform::MainQueue& queue, std::vector<ResultStep> steps, const CallRecord& record)
      : queue_(queue), steps_(std::move(steps)), record_(record) {}

  void attach(ResultHandler handler) {
    std::lock_guard guard(lock_);
    handler_ = std::move(handler);
  }

  // Starts the clock of the steps anchored at `anchor`, on a thread of its own.
  void begin(ResultStep::Anchor anchor) {
    ResultHandler handler;
    {
      std::lock_guard guard(lock_);
      handler = handler_;
    }
    if (!handler) return;
    // Each due step with its position among the scenario's steps.
    std::vector<std::pair<std::size_t, ResultStep>> due;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (steps_[i].anchor == anchor) due.emplace_back(i, steps_[i]);
    }
    if (due.empty()) return;
    std::stable_sort(due.begin(), due.end(),
                     [](const auto& a, const auto& b) { return a.second.ms < b.second.ms; });
    platform::MainQueue& queue = queue_;
    const CallRecord& record = record_;
    std::thread([&queue, &record, handler, due = std::move(due)] {
      auto anchorTime = std::chrono::steady_clock::now();
      for (const auto& [index, step] : due) {
        std::this_thread::sleep_until(anchorTime + std::chrono::milliseconds(step.ms));
        std::optional<RecognitionResult> result;
        if (step.text) result = RecognitionResult{*step.text, step.isFinal};
        bool hasError = step.hasError;
        std::string note = "task.result " + std::to_string(index);
        queue.post([&record, handler, note, result, hasError] {
          record.note(note);
          handler(result, hasError);
        });
      }
    }).detach();
  }

 private:
  platform::MainQueue& queue_;
  const std::vector<ResultStep> steps_;
  const CallRecord& record_;
  std::mutex lock_;
  ResultHandler handler_;
};

std::string formatText(const AudioFormat& format) {
  std::ostringstream text;
  text << format.sampleRate << " " << format.channels;
  return text.str();
}

class ScriptedInputNode final : public platform::InputNode {
 public:
  ScriptedInputNode(const Scenario& scenario, const CallRecord& record)
      : format_{scenario.sampleRate, scenario.channels}, record_(record) {}

  AudioFormat outputFormat(int bus) override {
    record_.note("input.outputFormat " + std::to_string(bus));
    return format_;
  }

  void installTap(int bus, std::uint32_t bufferSizeFrames, AudioFormat format,
                  TapBlock block) override {
    record_.note("tap.install " + std::to_string(bus) + " " + std::to_string(bufferSizeFrames) +
                 " " + formatText(format));
    std::lock_guard guard(lock_);
    block_ = std::move(block);
    tapFormat_ = format;
  }

  void removeTap(int bus) override {
    record_.note("tap.remove " + std::to_string(bus));
    std::unique_lock guard(lock_);
    block_ = nullptr;
    // A buffer on its way finishes first; none follows.
    idle_.wait(guard, [this] { return !delivering_; });
  }

  // Hands one buffer of silence to the tap block, when a tap is installed.
  // Runs on the engine thread.
  void deliver() {
    TapBlock block;
    AudioFormat format;
    {
      std::lock_guard guard(lock_);
      if (!block_) return;
      block = block_;
      format = tapFormat_;
      delivering_ = true;
    }
    std::vector<float> samples(kFramesPerBuffer * std::max<std::uint32_t>(format.channels, 1));
    block(PcmBuffer{samples.data(), kFramesPerBuffer, format});
    {
      std::lock_guard guard(lock_);
      delivering_ = false;
    }
    idle_.notify_all();
  }

 private:
  const AudioFormat format_;
  const CallRecord& record_;
  std::mutex lock_;
  std::condition_variable idle_;
  TapBlock block_;
  AudioFormat tapFormat_;
  bool delivering_ = false;
};

class ScriptedEngine final : public platform::AudioEngine {
 public:
  ScriptedEngine(const Scenario& scenario, const CallRecord& record, ResultFeed& feed)
      : scenario_(scenario), record_(record), feed_(feed), node_(scenario, record) {}

  ~ScriptedEngine() override { halt(); }

  platform::InputNode& inputNode() override { return node_; }

  bool start() override {
    record_.note("engine.start");
    sleepMs(scenario_.engineStartDelayMs);
    if (!scenario_.engineStarts) return false;
    {
      std::lock_guard guard(capture_->lock);
      if (capture_->running) return true;
      capture_->running = true;
      capture_->ended = false;
    }
    // Detached, not joined: the process may end at any moment, also while a
    // stop waits for the last buffer, and a thread that has ended but is not
    // joined yet then counts as leaked.
    std::thread([capture = capture_, &node = node_] { run(*capture, node); }).detach();
    feed_.begin(ResultStep::Anchor::start);
    return true;
  }

  void stop() override {
    record_.note("engine.stop");
    halt();
  }

 private:
  // What the engine shares with its capture thread, which keeps it: the
  // thread still takes a step or two after telling that it ended.
  struct Capture {
    std::mutex lock;
    std::condition_variable changed;
    bool running = false;
    bool ended = true;
  };

  // Delivers a buffer every interval while running, and one last buffer
  // once stopped; then ends, and touches the node no more.
  static void run(Capture& capture, ScriptedInputNode& node) {
    std::unique_lock guard(capture.lock);
    bool running = true;
    while (running) {
      capture.changed.wait_for(guard, kBufferInterval, [&] { return !capture.running; });
      running = capture.running;
      guard.unlock();
      node.deliver();
      guard.lock();
    }
    capture.ended = true;
    capture.changed.notify_all();
  }

  // Returns once the last buffer was delivered.
  void halt() {
    Capture& capture = *capture_;
    std::unique_lock guard(capture.lock);
    capture.running = false;
    capture.changed.notify_all();
    capture.changed.wait(guard, [&] { return capture.ended; });
  }

  const Scenario& scenario_;
  const CallRecord& record_;
  ResultFeed& feed_;
  ScriptedInputNode node_;
  const std::shared_ptr<Capture> capture_ = std::make_shared<Capture>();
};

class ScriptedRequest final : public platform::RecognitionRequest {
 public:
  ScriptedRequest(const CallRecord& record, ResultFeed& feed) : record_(record), feed_(feed) {}

  void setRequiresOnDeviceRecognition(bool value) override {
    record_.note("request.setRequiresOnDeviceRecognition " + std::to_string(value));
  }
  void setShouldReportPartialResults(bool value) override {
    record_.note("request.setShouldReportPartialResults " + std::to_string(value));
  }
  void setAddsPunctuation(bool value) override {
    record_.note("request.setAddsPunctuation " + std::to_string(value));
  }

  // Only the first buffer is recorded, and the first one after the end of
  // audio, which is a fault of the caller.
  void appendAudio(const PcmBuffer&) override {
    bool first = false;
    bool firstLate = false;
    {
      std::lock_guard guard(lock_);
      first = ++buffers_ == 1;
      if (ended_) firstLate = ++lateBuffers_ == 1;
    }
    if (first) record_.note("request.appendAudio");
    if (firstLate) record_.note("request.appendAudio after endAudio");
  }

  void endAudio() override {
    {
      std::lock_guard guard(lock_);
      ended_ = true;
    }
    record_.note("request.endAudio");
    feed_.begin(ResultStep::Anchor::endAudio);
  }

 private:
  const CallRecord& record_;
  ResultFeed& feed_;
  std::mutex lock_;
  long buffers_ = 0;
  long lateBuffers_ = 0;
  bool ended_ = false;
};

class ScriptedTask final : public platform::RecognitionTask {
 public:
  explicit ScriptedTask(const CallRecord& record) : record_(record) {}
  void cancel() override { record_.note("task.cancel"); }

 private:
  const CallRecord& record_;
};

class ScriptedRecognizer final : public platform::Recognizer {
 public:
  ScriptedRecognizer(std::string name, RecognizerScript script, const CallRecord& record,
                     ResultFeed& feed)
      : name_(std::move(name)), script_(script), record_(record), feed_(feed) {}

  bool isAvailable() override {
    record_.note("recognizer.isAvailable " + name_);
    return script_.available;
  }

  bool supportsOnDeviceRecognition() override {
    record_.note("recognizer.supportsOnDeviceRecognition " + name_);
    return script_.onDevice;
  }

  std::shared_ptr<platform::RecognitionTask> recognitionTask(
      std::shared_ptr<platform::RecognitionRequest>, ResultHandler handler) override {
    record_.note("recognizer.recognitionTask " + name_);
    feed_.attach(std::move(handler));
    return std::make_shared<ScriptedTask>(record_);
  }

 private:
  const std::string name_;
  const RecognizerScript script_;
  const CallRecord& record_;
  ResultFeed& feed_;
};

// Answers an authorization request: on a thread of its own after the delay,
// or at once on the calling thread. The raw value changes before the
// handler hears of it.
void answerRequest(const AuthorizationScript& script, std::function<void()> answer) {
  if (script.answerAtOnce) {
    answer();
    return;
  }
  std::thread([delay = script.answerDelayMs, answer = std::move(answer)] {
    sleepMs(delay);
    answer();
  }).detach();
}

class ScriptedSpeech final : public platform::SpeechService {
 public:
  ScriptedSpeech(const Scenario& scenario, const CallRecord& record, ResultFeed& feed)
      : scenario_(scenario), record_(record), feed_(feed), status_(scenario.speech.status) {}

  int authorizationStatus() override {
    record_.note("speech.authorizationStatus");
    sleepMs(scenario_.speech.statusDelayMs);
    return status_.load();
  }

  void requestAuthorization(std::function<void(int)> handler) override {
    record_.note("speech.requestAuthorization");
    answerRequest(scenario_.speech, [this, handler = std::move(handler)] {
      int answer = scenario_.speech.afterRequest;
      status_.store(answer);
      record_.note("speech.answer " + std::to_string(answer));
      handler(answer);
    });
  }

  std::shared_ptr<platform::Recognizer> recognizer(const std::string& locale) override {
    record_.note("speech.recognizer " + locale);
    auto found = scenario_.recognizers.find(locale);
    if (found == scenario_.recognizers.end()) return nullptr;
    return std::make_shared<ScriptedRecognizer>(locale, found->second, record_, feed_);
  }

  std::shared_ptr<platform::Recognizer> defaultRecognizer() override {
    record_.note("speech.defaultRecognizer");
    if (!scenario_.defaultRecognizer) return nullptr;
    return std::make_shared<ScriptedRecognizer>("default", *scenario_.defaultRecognizer, record_,
                                                feed_);
  }

  std::shared_ptr<platform::RecognitionRequest> makeBufferRequest() override {
    record_.note("speech.makeBufferRequest");
    return std::make_shared<ScriptedRequest>(record_, feed_);
  }

 private:
  const Scenario& scenario_;
  const CallRecord& record_;
  ResultFeed& feed_;
  std::atomic<int> status_;
};

class ScriptedAudio final : public platform::AudioService {
 public:
  ScriptedAudio(const Scenario& scenario, const CallRecord& record, ResultFeed& feed)
      : scenario_(scenario), record_(record), feed_(feed), status_(scenario.microphone.status) {}

  int authorizationStatus() override {
    record_.note("audio.authorizationStatus");
    sleepMs(scenario_.microphone.statusDelayMs);
    return status_.load();
  }

  void requestAccess(std::function<void(bool)> handler) override {
    record_.note("audio.requestAccess");
    answerRequest(scenario_.microphone, [this, handler = std::move(handler)] {
      int answer = scenario_.microphone.afterRequest;
      status_.store(answer);
      record_.note("audio.answer " + std::to_string(answer));
      handler(answer == 3);
    });
  }

  std::unique_ptr<platform::AudioEngine> makeEngine() override {
    record_.note("audio.makeEngine");
    return std::make_unique<ScriptedEngine>(scenario_, record_, feed_);
  }

 private:
  const Scenario& scenario_;
  const CallRecord& record_;
  ResultFeed& feed_;
  std::atomic<int> status_;
};

class ScriptedSystem final : public platform::SystemInfo {
 public:
  ScriptedSystem(const Scenario& scenario, const CallRecord& record)
      : scenario_(scenario), record_(record) {}

  bool isVersionAtLeast(int major, int minor) override {
    record_.note("system.isVersionAtLeast " + std::to_string(major) + " " + std::to_string(minor));
    return std::pair(scenario_.versionMajor, scenario_.versionMinor) >= std::pair(major, minor);
  }

  std::string currentLocaleIdentifier() override {
    record_.note("system.currentLocaleIdentifier");
    return scenario_.currentLocale;
  }

 private:
  const Scenario& scenario_;
  const CallRecord& record_;
};

}  // namespace

struct ScriptedPlatform::Impl {
  Impl(Scenario played, platform::MainQueue& mainQueue)
      : scenario(std::move(played)),
        record(scenario.recordPath),
        feed(mainQueue, scenario.results, record),
        speech(scenario, record, feed),
        audio(scenario, record, feed),
        system(scenario, record),
        platform{speech, audio, mainQueue, system} {}

  const Scenario scenario;
  const CallRecord record;
  ResultFeed feed;
  ScriptedSpeech speech;
  ScriptedAudio audio;
  ScriptedSystem system;
  platform::Platform platform;
};

ScriptedPlatform::ScriptedPlatform(Scenario scenario, platform::MainQueue& mainQueue)
    : impl_(std::make_unique<Impl>(std::move(scenario), mainQueue)) {}

ScriptedPlatform::~ScriptedPlatform() = default;

platform::Platform& ScriptedPlatform::platform() { return impl_->platform; }

}  // namespace quorvane::scripted
