// The text and the CPU time of SphinxDecoder on recordings, offline and
// faster than real time, with PocketSphinx settings of the caller's choice:
// the measuring tool behind the decoder's settings (bench/decoder_sweep.py
// drives it).
//
//   quorvane_decoder_quality [-jobs N] [-at-last-word] [-closing-pause-ms N]
//                            [-name value ...] < paths
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
//
// -at-last-word: the audio ends as the last word ends, as when "stop" is
// said then (the word's end from the full decode, which runs first in a
// child of its own); the full decode's text follows as a fifth column.
// -closing-pause-ms: the pause the decoder hears after audio that ends
// inside speech, instead of its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/sphinx_api.h"
#include "platform/linux/pocketsphinx/sphinx_decoder.h"
#include "platform/linux/speech/text_formatter.h"
#include "wave_file.h"

namespace {

using namespace quorvane::platform::linux_backend;

const char* const kModel = "/usr/share/pocketsphinx/model/en-us";
constexpr int kRate = 16000;
constexpr double kLeadSilence = 0.05;
constexpr double kTrailSilence = 1.0;

struct Options {
  std::size_t jobs = 1;
  bool atLastWord = false;
  std::optional<std::size_t> closingPauseSamples;
  std::vector<DecoderSetting> overrides;
};

std::vector<std::int16_t> sessionAudio(const std::vector<std::int16_t>& speech) {
  std::vector<std::int16_t> audio(static_cast<std::size_t>(kLeadSilence * kRate), 0);
  audio.insert(audio.end(), speech.begin(), speech.end());
  audio.resize(audio.size() + static_cast<std::size_t>(kTrailSilence * kRate), 0);
  return audio;
}

// What the product's final text would be for this audio; `lastWordEnd`
// gets the sample after the last word that is not a filler.
std::string decodedText(SphinxDecoder& decoder, const std::vector<std::int16_t>& audio,
                        std::size_t* lastWordEnd = nullptr) {
  // In buffers of 100 ms, as captured audio comes.
  for (std::size_t at = 0; at < audio.size(); at += kRate / 10) {
    std::size_t count = std::min<std::size_t>(kRate / 10, audio.size() - at);
    if (!decoder.process(std::span(audio).subspan(at, count))) return "<failed>";
  }
  TextFormatOptions options;
  options.addsPunctuation = true;
  options.isFinal = true;
  options.heardSeconds = secondsOfFrames(decoder.heardFrames());
  std::optional<std::vector<RecognizedWord>> words = decoder.finish();
  if (!words) return "<failed>";
  if (lastWordEnd != nullptr) {
    *lastWordEnd = 0;
    for (const RecognizedWord& word : *words) {
      if (!word.isFiller) {
        *lastWordEnd = static_cast<std::size_t>(word.endFrame + 1) * (kRate / kFramesPerSecond);
      }
    }
  }
  std::string text;
  for (char c : formatText(timedWords(*words), options))
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

void writeAll(int fd, const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    ssize_t written = ::write(fd, text.data() + at, text.size() - at);
    if (written <= 0) break;
    at += static_cast<std::size_t>(written);
  }
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return text;
}

// The full decode's text and its last word's end, from a child of the
// loaded decoder (the caller's copy stays fresh).
std::string fullDecode(SphinxDecoder& decoder, const std::vector<std::int16_t>& audio,
                       std::size_t& lastWordEnd) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "<failed>";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeEnds[0]);
    std::size_t end = 0;
    std::string text = decodedText(decoder, audio, &end);
    writeAll(pipeEnds[1], std::to_string(end) + "\t" + text);
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string line = readAll(pipeEnds[0]);
  ::waitpid(pid, nullptr, 0);
  std::size_t tab = line.find('\t');
  if (tab == std::string::npos) return "<crashed>";
  lastWordEnd = std::stoul(line.substr(0, tab));
  return line.substr(tab + 1);
}

Child startChild(SphinxDecoder& decoder, const Options& options, const std::string& path,
                 std::size_t index) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeEnds[0]);
    std::vector<std::int16_t> speech = readWav(path);
    std::vector<std::int16_t> audio = sessionAudio(speech);
    std::string full;
    if (options.atLastWord && !speech.empty()) {
      std::size_t lastWordEnd = audio.size();
      full = fullDecode(decoder, audio, lastWordEnd);
      audio.resize(std::min(audio.size(), lastWordEnd));
    }
    if (options.closingPauseSamples) decoder.setClosingPauseSamples(*options.closingPauseSamples);
    std::string text = speech.empty() ? "<unreadable>" : decodedText(decoder, audio);
    std::string line = std::to_string(speech.size()) + "\t" + text;
    if (options.atLastWord) line += "\t" + full;
    writeAll(pipeEnds[1], line);
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  return {pid, pipeEnds[0], index};
}

Outcome finishChild(const Child& child) {
  Outcome outcome;
  std::string line = readAll(child.output);
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
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "-at-last-word") == 0) {
      options.atLastWord = true;
    } else if (i + 1 == argc) {
      break;
    } else if (std::strcmp(argv[i], "-jobs") == 0) {
      options.jobs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "-closing-pause-ms") == 0) {
      options.closingPauseSamples = static_cast<std::size_t>(std::atoi(argv[++i])) * kRate / 1000;
    } else {
      options.overrides.push_back({argv[i], argv[i + 1]});
      ++i;
    }
  }
  if (i != argc) {
    std::fprintf(stderr,
                 "usage: %s [-jobs N] [-at-last-word] [-closing-pause-ms N] [-name value ...]"
                 " < paths\n",
                 argv[0]);
    return 2;
  }
  const SphinxApi* api = sphinxApi();
  std::optional<ModelFiles> model = findModelFiles(kModel);
  if (api == nullptr || !model) {
    std::fprintf(stderr, "PocketSphinx or its US English model is missing\n");
    return 1;
  }
  std::unique_ptr<SphinxDecoder> decoder = SphinxDecoder::load(*api, *model, options.overrides);
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
    while (running.size() < options.jobs && next < paths.size()) {
      running.push_back(startChild(*decoder, options, paths[next], next));
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
