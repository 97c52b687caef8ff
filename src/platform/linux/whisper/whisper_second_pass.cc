#include "platform/linux/whisper/whisper_second_pass.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/whisper/whisper_api.h"
#include "platform/linux/whisper/whisper_model_files.h"
#include "platform/linux/whisper/whisper_text.h"

namespace quorvane::platform::linux_backend {
namespace {

// Whisper's text is off when it has many more words than the streaming
// engine heard: it went on writing past the speech, or wrote words into
// noise. The streaming engine rarely misses more than half the words.
bool hasTooManyWords(std::size_t whisperWords, std::size_t heardWords) {
  return whisperWords > 2 * heardWords + 4;
}

class WhisperSecondPassSession final
    : public SecondPassSession,
      public std::enable_shared_from_this<WhisperSecondPassSession> {
 public:
  WhisperSecondPassSession(WhisperSecondPassSettings settings, std::string language)
      : settings_(std::move(settings)), language_(std::move(language)) {}

  void start() {
    std::thread([self = shared_from_this()] { self->run(); }).detach();
  }

  void rewrite(HeardUtterance utterance) override {
    if (utterance.heardWords == 0) return;
    {
      std::lock_guard guard(lock_);
      if (stopped_) return;
      queue_.push_back(std::move(utterance));
    }
    changed_.notify_all();
  }

  std::vector<RewrittenUtterance> takeRewritten() override {
    std::lock_guard guard(lock_);
    return std::exchange(rewritten_, {});
  }

  void waitForAll(std::chrono::steady_clock::time_point deadline) override {
    std::unique_lock guard(lock_);
    changed_.wait_until(guard, deadline, [&] { return stopped_ || (queue_.empty() && !busy_); });
  }

  void cancel() override {
    cancelled_ = true;  // ends a decode under way
    stop();
  }

 private:
  void run() {
    // A crash inside the library or on a damaged model costs the second
    // pass, not the session.
    FatalExitTrap trap([this] { stop(); });
    const std::unique_ptr<WhisperDecoder> decoder = loadWhisperDecoder(settings_, language_);
    if (!decoder) return stop();
    std::string previousText;
    for (;;) {
      HeardUtterance utterance;
      {
        std::unique_lock guard(lock_);
        busy_ = false;
        changed_.notify_all();
        changed_.wait(guard, [&] { return stopped_ || !queue_.empty(); });
        if (stopped_) return;
        utterance = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
      }
      const std::string& prompt = settings_.promptsWithPreviousText ? previousText : std::string();
      std::optional<std::string> text =
          rewrittenText(*decoder, utterance, language_, prompt, settings_, cancelled_);
      if (!text) continue;
      previousText = *text;
      std::lock_guard guard(lock_);
      rewritten_.push_back({utterance.index, std::move(*text)});
    }
  }

  void stop() {
    {
      std::lock_guard guard(lock_);
      stopped_ = true;
      queue_.clear();
    }
    changed_.notify_all();
  }

  const WhisperSecondPassSettings settings_;
  const std::string language_;
  std::atomic<bool> cancelled_{false};

  std::mutex lock_;  // Guards the four below; `changed_` tells of their changes.
  std::condition_variable changed_;
  std::deque<HeardUtterance> queue_;
  std::vector<RewrittenUtterance> rewritten_;
  bool busy_ = true;  // until the model has loaded and the first wait begins
  bool stopped_ = false;
};

}  // namespace

std::unique_ptr<WhisperDecoder> loadWhisperDecoder(const WhisperSecondPassSettings& settings,
                                                   const std::string& language) {
  const WhisperApi* api = whisperApi();
  if (api == nullptr) return nullptr;
  std::unique_ptr<WhisperDecoder> decoder =
      WhisperDecoder::load(*api, settings.modelPath, settings.decoding);
  if (!decoder || !decoder->knowsLanguage(language)) return nullptr;
  return decoder;
}

std::optional<std::string> rewrittenText(const WhisperDecoder& decoder,
                                         const HeardUtterance& utterance,
                                         const std::string& language, const std::string& prompt,
                                         const WhisperSecondPassSettings& settings,
                                         const std::atomic<bool>& cancelled, bool isFinal) {
  // Beside the streaming engine one thread, so that its partials keep up
  // with the speech on a machine of two cores; every core for the last
  // utterance, which the final result waits for.
  const int threads =
      utterance.endsAudio ? settings.decoding.threads : settings.decoding.threadsBeside;
  std::optional<WhisperTranscription> transcription =
      decoder.decode(utterance.samples, language, prompt, threads, cancelled, isFinal);
  if (!transcription || transcription->ranAway ||
      transcription->noSpeechProbability >= settings.noSpeechThreshold) {
    return std::nullopt;
  }
  std::string text = cleanWhisperText(transcription->text);
  if (text.empty() || hasTooManyWords(wordCount(text), utterance.heardWords)) return std::nullopt;
  return text;
}

WhisperSecondPass::WhisperSecondPass(WhisperSecondPassSettings settings)
    : settings_(std::move(settings)) {}

std::shared_ptr<SecondPassSession> WhisperSecondPass::startSession(const std::string& language) {
  auto session = std::make_shared<WhisperSecondPassSession>(settings_, language);
  session->start();
  return session;
}

std::optional<WhisperSecondPassSettings> whisperSettingsFor(const std::string& language) {
  if (!processorRunsWhisper() || whisperLibraryPath().empty()) return std::nullopt;
  std::optional<std::filesystem::path> model = findWhisperModel(language);
  if (!model) return std::nullopt;
  WhisperSecondPassSettings settings;
  settings.modelPath = *model;
  settings.decoding.threads =
      static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  // A core for the streaming engine.
  settings.decoding.threadsBeside = std::max(1, settings.decoding.threads - 1);
  return settings;
}

std::shared_ptr<SecondPass> findWhisperSecondPass(const std::string& language) {
  std::optional<WhisperSecondPassSettings> settings = whisperSettingsFor(language);
  if (!settings) return nullptr;
  return std::make_shared<WhisperSecondPass>(std::move(*settings));
}

}  // namespace quorvane::platform::linux_backend
