// Vosk's streaming text and the product's text after whisper.cpp's second
// pass, for recordings, offline and faster than real time, with second-pass
// settings of the caller's choice: the measuring tool behind those settings.
//
//   quorvane_second_pass_quality [-margin FRAMES] [-no-prompt]
//                                [-no-speech P] [-threads N] [-model FILE] < paths
//
// Reads the paths of 16 kHz mono 16-bit WAV files, one a line. Each file,
// with the silence a session records around speech (0.05 s before, 1 s
// after), is decoded as the product decodes it: Vosk (the model beside this
// program) in tenths of a second, each utterance it ends handed with its
// audio to whisper.cpp, here on this thread, one after the other, and the
// text written as the final result. Prints for each file, in order: path,
// Whisper's CPU seconds, audio seconds, utterances, Vosk's text, and the
// product's text, separated by tabs (line feeds written as "\n").
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/linux/process/program_location.h"
#include "platform/linux/speech/utterance_audio.h"
#include "platform/linux/speech/utterance_transcript.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_decoder.h"
#include "platform/linux/whisper/whisper_api.h"
#include "platform/linux/whisper/whisper_decoder.h"
#include "platform/linux/whisper/whisper_second_pass.h"
#include "wave_file.h"

namespace {

using namespace quorvane::platform::linux_backend;

constexpr double kLeadSilence = 0.05;
constexpr double kTrailSilence = 1.0;
constexpr std::size_t kSliceSamples = 1600;

double threadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string oneLine(std::string text) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
    text.replace(at, 1, "\\n");
  }
  return text;
}

struct Outcome {
  std::string streaming;
  std::string final;
  std::size_t utterances = 0;
  double whisperCpuSeconds = 0;
};

Outcome decodeFile(const VoskApi& vosk, const WhisperDecoder& whisper,
                   const WhisperSecondPassSettings& settings, std::vector<std::int16_t> speech) {
  std::vector<std::int16_t> audio(static_cast<std::size_t>(kLeadSilence * 16000), 0);
  audio.insert(audio.end(), speech.begin(), speech.end());
  audio.resize(audio.size() + static_cast<std::size_t>(kTrailSilence * 16000), 0);

  TextFormatOptions format;
  format.addsPunctuation = true;
  UtteranceTranscript streaming(format), rewritten(format);
  UtteranceAudio utteranceAudio;
  std::unique_ptr<VoskDecoder> decoder =
      VoskDecoder::load(vosk, programDirectory() / "vosk/model/en-us");
  if (!decoder) std::exit(2);
  Outcome outcome;
  std::string previousText;
  const std::atomic<bool> never{false};
  auto endUtterance = [&](std::vector<TimedWord> words) {
    HeardUtterance utterance = utteranceAudio.take(words);
    utterance.index = streaming.addHeard(words);
    rewritten.addHeard(std::move(words));
    if (utterance.heardWords == 0) return;
    const double before = threadCpuSeconds();
    std::optional<std::string> text =
        rewrittenText(whisper, utterance, "en",
                      settings.promptsWithPreviousText ? previousText : "", settings, never);
    outcome.whisperCpuSeconds += threadCpuSeconds() - before;
    if (!text) return;
    previousText = *text;
    rewritten.rewrite(utterance.index, *text);
  };
  for (std::size_t at = 0; at < audio.size(); at += kSliceSamples) {
    std::span<const std::int16_t> slice(audio.data() + at,
                                        std::min(kSliceSamples, audio.size() - at));
    if (!decoder->process(slice)) std::exit(2);
    utteranceAudio.add(slice);
    if (auto words = decoder->takeEndedUtterance()) endUtterance(std::move(*words));
  }
  decoder->finish();
  if (auto words = decoder->takeEndedUtterance()) endUtterance(std::move(*words));
  outcome.utterances = streaming.utteranceCount();
  outcome.streaming = streaming.text({}, decoder->heardSeconds(), true);
  outcome.final = rewritten.text({}, decoder->heardSeconds(), true);
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  prepareWhisperRuntime();
  WhisperSecondPassSettings settings;
  std::filesystem::path model = programDirectory() / "whisper/model/ggml-base.bin";
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const bool hasValue = i + 1 < argc;
    if (flag == "-margin" && hasValue) {
      settings.decoding.contextMarginFrames = std::atoi(argv[++i]);
    } else if (flag == "-no-prompt") {
      settings.promptsWithPreviousText = false;
    } else if (flag == "-no-speech" && hasValue) {
      settings.noSpeechThreshold = std::strtof(argv[++i], nullptr);
    } else if (flag == "-threads" && hasValue) {
      settings.decoding.threads = std::atoi(argv[++i]);
    } else if (flag == "-model" && hasValue) {
      model = argv[++i];
    } else {
      std::cerr << "usage: " << argv[0]
                << " [-margin FRAMES] [-no-prompt] [-no-speech P] [-threads N] [-model FILE] "
                   "< paths\n";
      return 2;
    }
  }
  const VoskApi* vosk = voskApi();
  const WhisperApi* whisperLibrary = whisperApi();
  if (vosk == nullptr || whisperLibrary == nullptr) {
    std::cerr << "libvosk or libwhisper is missing beside this program\n";
    return 2;
  }
  std::unique_ptr<WhisperDecoder> whisper =
      WhisperDecoder::load(*whisperLibrary, model, settings.decoding);
  if (!whisper) {
    std::cerr << model << " does not load\n";
    return 2;
  }
  for (std::string path; std::getline(std::cin, path);) {
    std::vector<std::int16_t> speech = readWav(path);
    if (speech.empty()) {
      std::cerr << path << " is no 16 kHz mono 16-bit WAV file\n";
      return 2;
    }
    const double seconds =
        static_cast<double>(speech.size()) / 16000 + kLeadSilence + kTrailSilence;
    Outcome outcome = decodeFile(*vosk, *whisper, settings, std::move(speech));
    std::cout << path << '\t' << outcome.whisperCpuSeconds << '\t' << seconds << '\t'
              << outcome.utterances << '\t' << oneLine(outcome.streaming) << '\t'
              << oneLine(outcome.final) << std::endl;
  }
  return 0;
}
