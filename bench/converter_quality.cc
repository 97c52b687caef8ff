// Word error and CPU of the conversion to 16 kHz mono, per input format and
// libsamplerate converter: each LibriVox recording is turned by sox into
// what a microphone of that rate and channel count delivers, converted back
// by SpeechFormatConverter in tap-sized buffers, and decoded by SphinxDecoder
// with the installed US English model, as the product does it.
//
//   quorvane_converter_quality [recording names...]
//
// Without names, the three recordings the converter was chosen on (the
// benchmark reports on the other two). Prints one Markdown row per input
// format and converter.
#include <samplerate.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/sphinx_api.h"
#include "platform/linux/pocketsphinx/sphinx_decoder.h"
#include "platform/linux/speech/speech_format_converter.h"
#include "platform/linux/speech_samples.h"

namespace {

using quorvane::platform::AudioFormat;
using namespace quorvane::platform::linux_backend;
using namespace quorvane::testing;

const char* const kLibrivox = "/usr/share/pocketsphinx/test/data/librivox/";
const char* const kTuningSet[] = {"sense_and_sensibility_01_austen_64kb-0870",
                                  "sense_and_sensibility_01_austen_64kb-0890",
                                  "sense_and_sensibility_01_austen_64kb-0920"};
constexpr std::size_t kTapFrames = 4096;

struct Converter {
  const char* name;
  int type;
};
const Converter kConverters[] = {{"SINC_FASTEST", SRC_SINC_FASTEST},
                                 {"SINC_MEDIUM", SRC_SINC_MEDIUM_QUALITY},
                                 {"SINC_BEST", SRC_SINC_BEST_QUALITY}};

// The recording as interleaved samples at `rate` and `channels`, scaled to
// floats as PulseAudio hands them over.
std::vector<float> reformatted(const std::string& name, int rate, int channels) {
  std::string command = std::string("sox ") + kLibrivox + name +
                        ".wav -t raw -e signed-integer -b 16 -L -r " + std::to_string(rate) +
                        " -c " + std::to_string(channels) + " - 2>/dev/null";
  std::vector<float> samples;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return samples;
  std::int16_t buffer[4096];
  while (std::size_t count = std::fread(buffer, sizeof buffer[0], 4096, pipe)) {
    for (std::size_t i = 0; i < count; ++i) samples.push_back(buffer[i] / 32768.0f);
  }
  ::pclose(pipe);
  return samples;
}

double threadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Outcome {
  double conversionCpu = 0.0;
  std::string text;
};

Outcome convertAndDecode(const SphinxApi& api, const ModelFiles& model,
                         const std::vector<float>& input, AudioFormat format, int converterType) {
  Outcome outcome;
  std::vector<std::int16_t> speech;
  double started = threadCpuSeconds();
  SpeechFormatConverter converter(format, converterType);
  const std::size_t frames = input.size() / format.channels;
  for (std::size_t frame = 0; frame < frames; frame += kTapFrames) {
    std::size_t count = std::min(kTapFrames, frames - frame);
    converter.convert(input.data() + frame * format.channels, count, speech);
  }
  converter.finish(speech);
  outcome.conversionCpu = threadCpuSeconds() - started;
  std::unique_ptr<SphinxDecoder> decoder = SphinxDecoder::load(api, model);
  if (!decoder || !decoder->process(speech)) return outcome;
  // The words alone, as the bare recognizer prints them: no fillers, no
  // "(2)" of a dictionary variant.
  for (const RecognizedWord& word : decoder->finish().value_or(std::vector<RecognizedWord>{})) {
    if (word.isFiller) continue;
    if (!outcome.text.empty()) outcome.text += ' ';
    outcome.text += word.spelling.substr(0, word.spelling.find('('));
  }
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names(argv + 1, argv + argc);
  if (names.empty()) names.assign(std::begin(kTuningSet), std::end(kTuningSet));
  const SphinxApi* api = sphinxApi();
  std::optional<ModelFiles> model = findModelFiles("/usr/share/pocketsphinx/model/en-us");
  if (api == nullptr || !model) {
    std::fprintf(stderr, "PocketSphinx or its US English model is missing\n");
    return 1;
  }
  std::vector<SpeechSample> recordings;
  double audioSeconds = 0.0;
  for (const std::string& name : names) {
    recordings.push_back(loadLibrivoxSample(name));
    audioSeconds += static_cast<double>(recordings.back().samples.size()) / kSampleRate;
  }
  std::printf("%zu recordings, %.1f s of audio\n\n", names.size(), audioSeconds);
  std::printf("| input | converter | WER | conversion CPU s per audio s |\n|---|---|---|---|\n");
  for (int rate : {8000, 11025, 16000, 22050, 44100, 48000}) {
    for (int channels : {1, 2}) {
      for (const Converter& converter : kConverters) {
        // At 16 kHz mono nothing is converted: one row is the reference.
        if (rate == 16000 && (channels == 2 || converter.type != SRC_SINC_FASTEST)) continue;
        double cpu = 0.0;
        std::size_t errors = 0;
        std::size_t words = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
          std::vector<float> input = reformatted(names[i], rate, channels);
          Outcome outcome = convertAndDecode(
              *api, *model, input,
              AudioFormat{static_cast<double>(rate), static_cast<std::uint32_t>(channels)},
              converter.type);
          cpu += outcome.conversionCpu;
          std::istringstream reference(recordings[i].transcript);
          auto referenceWords = static_cast<std::size_t>(std::distance(
              std::istream_iterator<std::string>(reference), std::istream_iterator<std::string>()));
          errors += static_cast<std::size_t>(wordErrorRate(recordings[i].transcript, outcome.text) *
                                                 static_cast<double>(referenceWords) +
                                             0.5);
          words += referenceWords;
        }
        std::printf("| %d Hz × %d | %s | %.3f | %.4f |\n", rate, channels,
                    rate == 16000 ? "none" : converter.name,
                    static_cast<double>(errors) / static_cast<double>(words), cpu / audioSeconds);
        std::fflush(stdout);
      }
    }
  }
  return 0;
}
