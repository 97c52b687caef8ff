// The text and the CPU time of SphinxDecoder on recordings, offline and
// faster than real time, with PocketSphinx settings of the caller's choice:
// the measuring tool behind the decoder's settings (bench/decoder_sweep.py
// drives it).
//
//   quorvane_decoder_quality [-jobs N] [-name value ...] < paths
//
// Reads the paths of 16 kHz mono 16-bit WAV files, one a line. The model
// (the installed US English one, with the spoken commands, as the product
// loads it) is loaded once with the decoder's settings and each `-name
// value` on top; each file is then decoded by a child process forked from
// the loaded one, so every file starts from a fresh session, as each
// `listen` does, without loading the model again. The audio gets the
// silence a session records around speech (0.05 s before, 1 s after). Prints
// for each file, in order: path, CPU seconds of its decoding, audio
// seconds, and the product's final text (line feeds written as "\n"),
// separated by tabs; first a line "# load CPU s" with the model's loading.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/linux/model_files.h"
#include "platform/linux/sphinx_api.h"
#include "platform/linux/sphinx_decoder.h"
#include "platform/linux/text_formatter.h"

namespace {

using namespace quorvane::platform::linux_backend;

const char* const kModel = "/usr/share/pocketsphinx/model/en-us";
constexpr int kRate = 16000;
constexpr double kLeadSilence = 0.05;
constexpr double kTrailSilence = 1.0;

// The samples of a 16 kHz mono 16-bit WAV file; empty when it is not one.
std::vector<std::int16_t> readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char riff[12];
  if (!in.read(riff, 12) || std::memcmp(riff, "RIFF", 4) != 0) return {};
  char header[8];
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  while (in.read(header, 8)) {
    std::uint32_t size = 0;
    std::memcpy(&size, header + 4, 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      std::vector<char> format(size);
      if (!in.read(format.data(), size) || size < 16) return {};
      std::memcpy(&channels, format.data() + 2, 2);
      std::memcpy(&rate, format.data() + 4, 4);
      std::memcpy(&bits, format.data() + 14, 2);
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (channels != 1 || rate != kRate || bits != 16) return {};
      std::vector<std::int16_t> samples(size / 2);
      in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(size / 2 * 2));
      samples.resize(static_cast<std::size_t>(in.gcount()) / 2);
      return samples;
    } else {
      in.seekg(size + (size & 1), std::ios::cur);
    }
  }
  return {};
}

// What the product's final text would be for this audio.
std::string decodedText(SphinxDecoder& decoder, const std::vector<std::int16_t>& speech) {
  std::vector<std::int16_t> audio(static_cast<std::size_t>(kLeadSilence * kRate), 0);
  audio.insert(audio.end(), speech.begin(), speech.end());
  audio.resize(audio.size() + static_cast<std::size_t>(kTrailSilence * kRate), 0);
  // In buffers of 100 ms, as captured audio comes.
  for (std::size_t at = 0; at < audio.size(); at += kRate / 10) {
    std::size_t count = std::min<std::size_t>(kRate / 10, audio.size() - at);
    if (!decoder.process(std::span(audio).subspan(at, count))) return "<failed>";
  }
  TextFormatOptions options;
  options.addsPunctuation = true;
  options.isFinal = true;
  options.heardFrames = decoder.heardFrames();
  std::optional<std::vector<RecognizedWord>> words = decoder.finish();
  if (!words) return "<failed>";
  std::string text;
  for (char c : formatText(*words, options))
    text += c == '\n' ? std::string("\\n") : std::string(1, c);
  return text;
}

struct Child {
  pid_t pid = -1;
  int output = -1;
  std::size_t index = 0;
};

struct Outcome {
  double cpuSeconds = 0.0;
  double audioSeconds = 0.0;
  std::string text;
};

Child startChild(SphinxDecoder& decoder, const std::string& path, std::size_t index) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeEnds[0]);
    std::vector<std::int16_t> speech = readWav(path);
    std::string text = speech.empty() ? "<unreadable>" : decodedText(decoder, speech);
    std::string line = std::to_string(speech.size()) + "\t" + text;
    for (std::size_t at = 0; at < line.size();) {
      ssize_t written = ::write(pipeEnds[1], line.data() + at, line.size() - at);
      if (written <= 0) break;
      at += static_cast<std::size_t>(written);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  return {pid, pipeEnds[0], index};
}

Outcome finishChild(const Child& child) {
  Outcome outcome;
  std::string line;
  char buffer[4096];
  for (ssize_t count; (count = ::read(child.output, buffer, sizeof buffer)) > 0;) {
    line.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(child.output);
  int status = 0;
  rusage usage{};
  ::wait4(child.pid, &status, 0, &usage);
  outcome.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  std::size_t tab = line.find('\t');
  if (tab == std::string::npos) {
    outcome.text = "<crashed>";
    return outcome;
  }
  outcome.audioSeconds = std::stod(line.substr(0, tab)) / kRate;
  outcome.text = line.substr(tab + 1);
  return outcome;
}

double processCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t jobs = 1;
  std::vector<DecoderSetting> overrides;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "-jobs") == 0) {
      jobs = std::max(1, std::atoi(argv[i + 1]));
    } else {
      overrides.push_back({argv[i], argv[i + 1]});
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s [-jobs N] [-name value ...] < paths\n", argv[0]);
    return 2;
  }
  const SphinxApi* api = sphinxApi();
  std::optional<ModelFiles> model = findModelFiles(kModel);
  if (api == nullptr || !model) {
    std::fprintf(stderr, "PocketSphinx or its US English model is missing\n");
    return 1;
  }
  std::unique_ptr<SphinxDecoder> decoder = SphinxDecoder::load(*api, *model, overrides);
  if (!decoder) {
    std::fprintf(stderr, "PocketSphinx refused the settings\n");
    return 1;
  }
  std::printf("# load CPU s\t%.3f\n", processCpuSeconds());
  std::fflush(stdout);

  std::vector<std::string> paths;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty()) paths.push_back(line);
  }
  std::vector<Outcome> outcomes(paths.size());
  std::vector<Child> running;
  std::size_t next = 0;
  std::size_t printed = 0;
  std::vector<bool> done(paths.size(), false);
  while (printed < paths.size()) {
    while (running.size() < jobs && next < paths.size()) {
      running.push_back(startChild(*decoder, paths[next], next));
      ++next;
    }
    // The oldest child first: outcomes come out in order.
    Child child = running.front();
    running.erase(running.begin());
    outcomes[child.index] = finishChild(child);
    done[child.index] = true;
    for (; printed < paths.size() && done[printed]; ++printed) {
      const Outcome& o = outcomes[printed];
      std::printf("%s\t%.3f\t%.3f\t%s\n", paths[printed].c_str(), o.cpuSeconds, o.audioSeconds,
                  o.text.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
