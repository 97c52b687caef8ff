#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/linux/whisper/whisper_api.h"

namespace quorvane::platform::linux_backend {

struct WhisperDecodeSettings {
  // Threads for a decode that nothing else waits beside; `threadsBeside`
  // for one that runs while a streaming engine decodes on the same cores,
  // which must keep up with the speech.
  int threads = 2;
  int threadsBeside = 1;
  // The encoder sees only the audio's own frames and this many more (50 a
  // second), not the whole 30 s window: about five times less work for a
  // few seconds of speech. 0 decodes with the whole window.
  int contextMarginFrames = 64;
};

struct WhisperTranscription {
  std::string text;  // as Whisper wrote it, notes and all
  // How sure Whisper was that nobody spoke, from 0 to 1.
  float noSpeechProbability = 0;
  // Decoding ran on past any sensible length, or in a loop, even at the
  // whole window: the text is cut off there and not to be trusted.
  bool ranAway = false;
};

// A loaded whisper.cpp model, decoding one piece of speech at a time, on
// one thread at a time.
class WhisperDecoder {
 public:
  // The audio one decode takes at most: Whisper's window.
  static constexpr double kMaxSeconds = 30.0;

  // Loads the model on the CPU; none when the library rejects it.
  static std::unique_ptr<WhisperDecoder> load(const WhisperApi& api,
                                              const std::filesystem::path& modelPath,
                                              WhisperDecodeSettings settings = {});

  ~WhisperDecoder();
  WhisperDecoder(const WhisperDecoder&) = delete;
  WhisperDecoder& operator=(const WhisperDecoder&) = delete;

  // Whether the model knows `language` ("en", "de"): a multilingual model
  // knows Whisper's languages, an English-only one English.
  bool knowsLanguage(const std::string& language) const;

  // Decodes 16 kHz mono samples in `language`, with `prompt` as the text
  // that came before them (may be empty), on `threads` threads. None when
  // the library fails or `cancelled` is raised meanwhile, or when the
  // samples exceed the window. A decode that ran away with the context cut
  // is done again with the whole window when `retriesWholeWindow`; else it
  // comes back as it is, marked.
  std::optional<WhisperTranscription> decode(std::span<const float> samples,
                                             const std::string& language, const std::string& prompt,
                                             int threads, const std::atomic<bool>& cancelled,
                                             bool retriesWholeWindow = true) const;

 private:
  WhisperDecoder(const WhisperApi& api, whisper_context* context, WhisperDecodeSettings settings);

  std::optional<WhisperTranscription> decodeOnce(std::span<const float> samples,
                                                 const std::string& language,
                                                 const std::string& prompt, int audioContext,
                                                 int threads,
                                                 const std::atomic<bool>& cancelled) const;

  const WhisperApi& api_;
  whisper_context* const context_;
  const WhisperDecodeSettings settings_;
};

}  // namespace quorvane::platform::linux_backend
