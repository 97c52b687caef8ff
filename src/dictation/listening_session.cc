#include "dictation/listening_session.h"

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "concurrency/background_task.h"
#include "concurrency/one_shot_signal.h"
#include "dictation/control.h"
#include "dictation/transcript.h"
#include "frame/command_dispatch.h"
#include "frame/message_writer.h"
#include "permissions/authorization_state.h"

namespace quorvane {
namespace {

constexpr int kTapBus = 0;
constexpr std::uint32_t kTapBufferFrames = 4096;

std::shared_ptr<platform::Recognizer> makeRecognizer(platform::SpeechService& speech,
                                                     const std::string& locale) {
  if (auto recognizer = speech.recognizer(locale)) return recognizer;
  // The user's own language serves without telling the host.
  return speech.defaultRecognizer();
}

}  // namespace

void finish(Transcript& transcript) {
  // One write: a host that cancels or closes its input on reading "final"
  // must still see "done" right after it.
  emitAllAndExit({{{"type", "final"}, {"text", transcript.text()}}, {{"type", "done"}}}, 0);
}

void listenWithRecognizer(platform::Platform& platform, const std::string& locale,
                          std::shared_ptr<Control> control, std::chrono::nanoseconds grace_ns,
                          Clock& clock) {
  std::shared_ptr<platform::Recognizer> recognizer = makeRecognizer(platform.speech, locale);
  if (!recognizer) fail("language_unsupported");
  if (!recognizer->isAvailable()) fail("language_unsupported");
  if (!recognizer->supportsOnDeviceRecognition()) fail("on_device_unavailable");

  std::shared_ptr<platform::RecognitionRequest> request = platform.speech.makeBufferRequest();
  request->setRequiresOnDeviceRecognition(true);
  request->setShouldReportPartialResults(true);
  if (platform.system.isVersionAtLeast(13, 0)) request->setAddsPunctuation(true);

  auto transcript = std::make_shared<Transcript>();

  // Every object lives until the process ends; nothing is torn down first.
  std::shared_ptr<platform::AudioEngine> engine = platform.audio.makeEngine();
  platform::InputNode& inputNode = engine->inputNode();
  platform::AudioFormat format = inputNode.outputFormat(kTapBus);
  if (!(format.sampleRate > 0)) fail("microphone_unavailable");  // NaN fails too.

  inputNode.installTap(
      kTapBus, kTapBufferFrames, format,
      [request](const platform::PcmBuffer& buffer) { request->appendAudio(buffer); });

  auto done = std::make_shared<OneShotSignal>();
  // Results that come before "ready" is written wait for it and are applied
  // in order right after, so no "partial" precedes "ready". Only the main
  // queue touches this.
  struct HeldResults {
    bool isReady = false;
    std::vector<std::function<void()>> held;
  };
  auto heldResults = std::make_shared<HeldResults>();
  std::shared_ptr<platform::RecognitionTask> task = recognizer->recognitionTask(
      request, [transcript, done, heldResults](
                   const std::optional<platform::RecognitionResult>& result, bool hasError) {
        auto apply = [transcript, done, result, hasError] {
          // The transcript is updated before the done signal is raised, so
          // "final" carries the result that raised it.
          if (result) transcript->replaceAll(result->text);
          if ((result && result->isFinal) || hasError) done->raise();
        };
        if (!heldResults->isReady) {
          heldResults->held.push_back(std::move(apply));
          return;
        }
        apply();
      });

  if (!engine->start()) fail("microphone_unavailable");

  emit({{"type", "ready"}, {"engine", engineName()}});
  platform.mainQueue.post([heldResults] {
    heldResults->isReady = true;
    for (const auto& apply : heldResults->held) apply();
    heldResults->held.clear();
  });

  auto stop = std::make_shared<OneShotSignal>();
  control->onCommand([stop](const std::string&) { stop->raise(); });
  TimerTask::start(
      std::chrono::nanoseconds(static_cast<std::int64_t>(maxSeconds * 1e9)),
      [stop] { stop->raise(); }, clock);
  stop->wait();

  engine->stop();
  inputNode.removeTap(kTapBus);
  request->endAudio();

  std::shared_ptr<TimerTask> grace = TimerTask::start(
      grace_ns, [done] { done->close(); }, clock);
  done->wait();
  grace->cancel();
  task->cancel();

  // Results are delivered on the main queue; finishing there too means no
  // "partial" can follow "final".
  platform.mainQueue.post([transcript, engine, recognizer, request, task] { finish(*transcript); });
}

}  // namespace quorvane
