#include "platform/fake_platform.h"

#include <algorithm>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>

namespace quorvane::testing {
namespace {

using platform::AudioFormat;
using platform::PcmBuffer;
using platform::RecognitionResult;
using platform::ResultHandler;
using platform::TapBlock;

constexpr std::size_t kFramesPerBuffer = 256;
constexpr auto kHungAfter = std::chrono::minutes(1);

bool matches(const std::string& recorded, const std::string& call) {
  if (!call.empty() && call.back() == ' ') return recorded.rfind(call, 0) == 0;
  return recorded == call;
}

std::string formatText(const AudioFormat& format) {
  std::ostringstream text;
  text << format.sampleRate << " " << format.channels;
  return text.str();
}

}  // namespace

// Everything the fake's services share, behind one lock. Nothing is called
// out (a handler, the tap block, the main queue) while the lock is held.
struct FakePlatform::State {
  explicit State(FakeScript played)
      : script(std::move(played)),
        speechStatus(script.speech.status),
        microphoneStatus(script.microphone.status) {}

  void note(std::string call) {
    {
      std::lock_guard guard(lock);
      record.push_back(std::move(call));
    }
    changed.notify_all();
  }

  // Blocks until `ready` holds; false when the test hung.
  bool await(const std::function<bool()>& ready) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, kHungAfter, ready);
  }

  const FakeScript script;
  RunLoop mainQueue;
  mutable std::mutex lock;
  mutable std::condition_variable changed;
  std::vector<std::string> record;
  int speechStatus;
  int microphoneStatus;
  std::function<void()> speechAnswer;      // a request that waits for the test
  std::function<void()> microphoneAnswer;  // the same for the microphone
  bool engineStartReleased = false;
  TapBlock tap;
  AudioFormat tapFormat;
  bool delivering = false;
  bool audioEnded = false;
  long buffers = 0;
  long lateBuffers = 0;
  ResultHandler handler;
  long results = 0;
};

namespace {

using State = FakePlatform::State;

class FakeInputNode final : public platform::InputNode {
 public:
  explicit FakeInputNode(std::shared_ptr<State> state) : state_(std::move(state)) {}

  AudioFormat outputFormat(int bus) override {
    state_->note("input.outputFormat " + std::to_string(bus));
    return {state_->script.sampleRate, state_->script.channels};
  }

  void installTap(int bus, std::uint32_t bufferSizeFrames, AudioFormat format,
                  TapBlock block) override {
    state_->note("tap.install " + std::to_string(bus) + " " + std::to_string(bufferSizeFrames) +
                 " " + formatText(format));
    std::lock_guard guard(state_->lock);
    state_->tap = std::move(block);
    state_->tapFormat = format;
  }

  void removeTap(int bus) override {
    state_->note("tap.remove " + std::to_string(bus));
    std::unique_lock guard(state_->lock);
    state_->tap = nullptr;
    // A buffer on its way finishes first; none follows.
    state_->changed.wait(guard, [this] { return !state_->delivering; });
  }

 private:
  std::shared_ptr<State> state_;
};

class FakeEngine final : public platform::AudioEngine {
 public:
  explicit FakeEngine(std::shared_ptr<State> state) : state_(state), node_(std::move(state)) {}

  platform::InputNode& inputNode() override { return node_; }

  bool start() override {
    state_->note("engine.start");
    if (state_->script.engineStartHeld) {
      std::unique_lock guard(state_->lock);
      state_->changed.wait(guard, [this] { return state_->engineStartReleased; });
    }
    return state_->script.engineStarts;
  }

  // Captured audio still on its way reaches the tap as one last buffer.
  void stop() override {
    state_->note("engine.stop");
    deliverTo(*state_);
  }

  static void deliverTo(State& state) {
    TapBlock block;
    AudioFormat format;
    {
      std::lock_guard guard(state.lock);
      if (!state.tap) return;
      block = state.tap;
      format = state.tapFormat;
      state.delivering = true;
    }
    std::vector<float> samples(kFramesPerBuffer * std::max<std::uint32_t>(format.channels, 1));
    block(PcmBuffer{samples.data(), kFramesPerBuffer, format});
    {
      std::lock_guard guard(state.lock);
      state.delivering = false;
    }
    state.changed.notify_all();
  }

 private:
  std::shared_ptr<State> state_;
  FakeInputNode node_;
};

class FakeRequest final : public platform::RecognitionRequest {
 public:
  explicit FakeRequest(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void setRequiresOnDeviceRecognition(bool value) override {
    state_->note("request.setRequiresOnDeviceRecognition " + std::to_string(value));
  }
  void setShouldReportPartialResults(bool value) override {
    state_->note("request.setShouldReportPartialResults " + std::to_string(value));
  }
  void setAddsPunctuation(bool value) override {
    state_->note("request.setAddsPunctuation " + std::to_string(value));
  }

  // Only the first buffer is recorded, and the first one after the end of
  // audio, which is a fault of the caller.
  void appendAudio(const PcmBuffer&) override {
    bool first = false;
    bool firstLate = false;
    {
      std::lock_guard guard(state_->lock);
      first = ++state_->buffers == 1;
      if (state_->audioEnded) firstLate = ++state_->lateBuffers == 1;
    }
    if (first) state_->note("request.appendAudio");
    if (firstLate) state_->note("request.appendAudio after endAudio");
  }

  void endAudio() override {
    {
      std::lock_guard guard(state_->lock);
      state_->audioEnded = true;
    }
    state_->note("request.endAudio");
  }

 private:
  std::shared_ptr<State> state_;
};

class FakeTask final : public platform::RecognitionTask {
 public:
  explicit FakeTask(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void cancel() override { state_->note("task.cancel"); }

 private:
  std::shared_ptr<State> state_;
};

class FakeRecognizerService final : public platform::Recognizer {
 public:
  FakeRecognizerService(std::string name, FakeRecognizer script, std::shared_ptr<State> state)
      : name_(std::move(name)), script_(script), state_(std::move(state)) {}

  bool isAvailable() override {
    state_->note("recognizer.isAvailable " + name_);
    return script_.available;
  }

  bool supportsOnDeviceRecognition() override {
    state_->note("recognizer.supportsOnDeviceRecognition " + name_);
    return script_.onDevice;
  }

  std::shared_ptr<platform::RecognitionTask> recognitionTask(
      std::shared_ptr<platform::RecognitionRequest>, ResultHandler handler) override {
    {
      std::lock_guard guard(state_->lock);
      state_->handler = std::move(handler);
    }
    state_->note("recognizer.recognitionTask " + name_);
    return std::make_shared<FakeTask>(state_);
  }

 private:
  const std::string name_;
  const FakeRecognizer script_;
  std::shared_ptr<State> state_;
};

// Answers a request at once, or keeps the answer for the test to give.
void answerRequest(State& state, bool atOnce, std::function<void()>& slot,
                   std::function<void()> answer) {
  if (atOnce) {
    answer();
    return;
  }
  {
    std::lock_guard guard(state.lock);
    slot = std::move(answer);
  }
  state.changed.notify_all();
}

class FakeSpeech final : public platform::SpeechService {
 public:
  explicit FakeSpeech(std::shared_ptr<State> state) : state_(std::move(state)) {}

  int authorizationStatus() override {
    state_->note("speech.authorizationStatus");
    std::this_thread::sleep_for(state_->script.speech.statusDelay);
    std::lock_guard guard(state_->lock);
    return state_->speechStatus;
  }

  // The raw value changes before the handler hears of it.
  void requestAuthorization(std::function<void(int)> handler) override {
    state_->note("speech.requestAuthorization");
    State& state = *state_;
    answerRequest(state, state.script.speech.answerAtOnce, state.speechAnswer,
                  [&state, handler = std::move(handler)] {
                    int answer = state.script.speech.afterRequest;
                    {
                      std::lock_guard guard(state.lock);
                      state.speechStatus = answer;
                    }
                    state.note("speech.answer " + std::to_string(answer));
                    handler(answer);
                  });
  }

  std::shared_ptr<platform::Recognizer> recognizer(const std::string& locale) override {
    state_->note("speech.recognizer " + locale);
    auto found = state_->script.recognizers.find(locale);
    if (found == state_->script.recognizers.end()) return nullptr;
    return std::make_shared<FakeRecognizerService>(locale, found->second, state_);
  }

  std::shared_ptr<platform::Recognizer> defaultRecognizer() override {
    state_->note("speech.defaultRecognizer");
    if (!state_->script.defaultRecognizer) return nullptr;
    return std::make_shared<FakeRecognizerService>("default", *state_->script.defaultRecognizer,
                                                   state_);
  }

  std::shared_ptr<platform::RecognitionRequest> makeBufferRequest() override {
    state_->note("speech.makeBufferRequest");
    return std::make_shared<FakeRequest>(state_);
  }

 private:
  std::shared_ptr<State> state_;
};

class FakeAudio final : public platform::AudioService {
 public:
  explicit FakeAudio(std::shared_ptr<State> state) : state_(std::move(state)) {}

  int authorizationStatus() override {
    state_->note("audio.authorizationStatus");
    std::this_thread::sleep_for(state_->script.microphone.statusDelay);
    std::lock_guard guard(state_->lock);
    return state_->microphoneStatus;
  }

  void requestAccess(std::function<void(bool)> handler) override {
    state_->note("audio.requestAccess");
    State& state = *state_;
    answerRequest(state, state.script.microphone.answerAtOnce, state.microphoneAnswer,
                  [&state, handler = std::move(handler)] {
                    int answer = state.script.microphone.afterRequest;
                    {
                      std::lock_guard guard(state.lock);
                      state.microphoneStatus = answer;
                    }
                    state.note("audio.answer " + std::to_string(answer));
                    handler(answer == 3);
                  });
  }

  std::unique_ptr<platform::AudioEngine> makeEngine() override {
    state_->note("audio.makeEngine");
    return std::make_unique<FakeEngine>(state_);
  }

 private:
  std::shared_ptr<State> state_;
};

class FakeSystem final : public platform::SystemInfo {
 public:
  explicit FakeSystem(std::shared_ptr<State> state) : state_(std::move(state)) {}

  bool isVersionAtLeast(int major, int minor) override {
    state_->note("system.isVersionAtLeast " + std::to_string(major) + " " + std::to_string(minor));
    return std::pair(state_->script.versionMajor, state_->script.versionMinor) >=
           std::pair(major, minor);
  }

  std::string currentLocaleIdentifier() override {
    state_->note("system.currentLocaleIdentifier");
    return state_->script.currentLocale;
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace

// The services and the platform that names them.
struct FakePlatform::Services {
  explicit Services(const std::shared_ptr<State>& state)
      : speech(state),
        audio(state),
        system(state),
        platform{speech, audio, state->mainQueue, system} {}
  FakeSpeech speech;
  FakeAudio audio;
  FakeSystem system;
  platform::Platform platform;
};

FakePlatform::FakePlatform(FakeScript script)
    : state_(std::make_shared<State>(std::move(script))),
      services_(std::make_unique<Services>(state_)) {}

FakePlatform::~FakePlatform() = default;

platform::Platform& FakePlatform::platform() { return services_->platform; }

RunLoop& FakePlatform::mainQueue() { return state_->mainQueue; }

std::vector<std::string> FakePlatform::calls() const {
  std::lock_guard guard(state_->lock);
  return state_->record;
}

bool FakePlatform::awaitCall(const std::string& call) const {
  return state_->await([&] { return indexOf(state_->record, call) != -1; });
}

void FakePlatform::setSpeechStatus(int status) {
  std::lock_guard guard(state_->lock);
  state_->speechStatus = status;
}

void FakePlatform::setMicrophoneStatus(int status) {
  std::lock_guard guard(state_->lock);
  state_->microphoneStatus = status;
}

namespace {

// Waits for the request whose answer is kept in `slot`, then gives it.
void giveAnswer(State& state, std::function<void()> State::*slot) {
  std::function<void()> answer;
  if (!state.await([&] { return state.*slot != nullptr; })) return;
  {
    std::lock_guard guard(state.lock);
    answer = std::exchange(state.*slot, nullptr);
  }
  answer();
}

}  // namespace

void FakePlatform::answerSpeech() { giveAnswer(*state_, &State::speechAnswer); }

void FakePlatform::answerMicrophone() { giveAnswer(*state_, &State::microphoneAnswer); }

void FakePlatform::releaseEngineStart() {
  {
    std::lock_guard guard(state_->lock);
    state_->engineStartReleased = true;
  }
  state_->changed.notify_all();
}

void FakePlatform::deliverAudio() { FakeEngine::deliverTo(*state_); }

bool FakePlatform::deliverResult(std::optional<std::string> text, bool isFinal, bool hasError) {
  ResultHandler handler;
  long index = 0;
  {
    std::lock_guard guard(state_->lock);
    if (!state_->handler) return false;
    handler = state_->handler;
    index = state_->results++;
  }
  std::optional<RecognitionResult> result;
  if (text) result = RecognitionResult{*text, isFinal};
  std::shared_ptr<State> state = state_;
  state_->mainQueue.post([state, handler, index, result, hasError] {
    state->note("task.result " + std::to_string(index));
    handler(result, hasError);
  });
  return true;
}

void FakePlatform::releaseAll() {
  std::function<void()> speech;
  std::function<void()> microphone;
  {
    std::lock_guard guard(state_->lock);
    speech = std::exchange(state_->speechAnswer, nullptr);
    microphone = std::exchange(state_->microphoneAnswer, nullptr);
  }
  releaseEngineStart();
  if (speech) speech();
  if (microphone) microphone();
}

long indexOf(const std::vector<std::string>& calls, const std::string& call) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (matches(calls[i], call)) return static_cast<long>(i);
  }
  return -1;
}

long countOf(const std::vector<std::string>& calls, const std::string& call) {
  return std::count_if(calls.begin(), calls.end(),
                       [&](const std::string& recorded) { return matches(recorded, call); });
}

std::string describe(const std::vector<std::string>& calls) {
  std::string text = "calls:";
  for (const auto& call : calls) text += "\n  " + call;
  return text;
}

}  // namespace quorvane::testing
