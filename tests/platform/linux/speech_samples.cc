#include "platform/linux/speech_samples.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "support/child_process.h"

namespace quorvane::testing {
namespace {

const std::filesystem::path kLibrivoxDirectory = "/usr/share/pocketsphinx/test/data/librivox";

std::uint32_t littleEndian32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

std::uint16_t littleEndian16(const std::string& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                    static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

std::vector<std::int16_t> readWaveSamples(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    throw std::runtime_error("not a WAVE file: " + file.string());
  }
  bool formatChecked = false;
  for (std::size_t offset = 12; offset + 8 <= bytes.size();) {
    std::string id = bytes.substr(offset, 4);
    std::uint32_t size = littleEndian32(bytes, offset + 4);
    std::size_t body = offset + 8;
    if (body + size > bytes.size()) break;
    if (id == "fmt ") {
      formatChecked = littleEndian16(bytes, body) == 1 && littleEndian16(bytes, body + 2) == 1 &&
                      littleEndian32(bytes, body + 4) == kSampleRate &&
                      littleEndian16(bytes, body + 14) == 16;
    } else if (id == "data" && formatChecked) {
      std::vector<std::int16_t> samples(size / 2);
      std::memcpy(samples.data(), bytes.data() + body, samples.size() * 2);
      return samples;
    }
    offset = body + size + (size & 1);
  }
  throw std::runtime_error("no 16 kHz mono 16-bit data in " + file.string());
}

std::string transcriptOf(const std::string& name) {
  // Lines read "<s> words </s> (name)".
  std::ifstream in(kLibrivoxDirectory / "transcription");
  for (std::string line; std::getline(in, line);) {
    if (line.find("(" + name + ")") == std::string::npos) continue;
    std::string text = line.substr(0, line.rfind('('));
    for (const char* marker : {"<s>", "</s>"}) {
      if (auto at = text.find(marker); at != std::string::npos) text.erase(at, std::strlen(marker));
    }
    std::istringstream words(text);
    std::string word, joined;
    while (words >> word) joined += (joined.empty() ? "" : " ") + word;
    return joined;
  }
  throw std::runtime_error("no transcript for " + name);
}

// The words alone: written text's capitals and marks are not words.
std::vector<std::string> wordsOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    while (!word.empty() && std::strchr(".,?!:;", word.back()) != nullptr) word.pop_back();
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

}  // namespace

SpeechSample loadLibrivoxSample(const std::string& name) {
  return {readWaveSamples(kLibrivoxDirectory / (name + ".wav")), transcriptOf(name)};
}

namespace {

// `speak` writes `voice.wav` in `directory`; sox makes it 16 kHz mono speech
// with some quiet around it.
SpeechSample spokenBy(const std::vector<std::string>& speak, const std::string& text,
                      const std::filesystem::path& directory) {
  const std::filesystem::path voice = directory / "voice.wav", speech = directory / "speech.wav";
  auto succeeds = [](const std::vector<std::string>& argv) {
    return ChildProcess(argv).wait(std::chrono::seconds(30)).exitStatus == 0;
  };
  if (!succeeds(speak) || !succeeds({"/usr/bin/sox", "-V1", voice.string(), "-r", "16000", "-c",
                                     "1", "-b", "16", speech.string(), "pad", "0.3", "1"})) {
    throw std::runtime_error(speak[0] + " or sox failed to speak: " + text);
  }
  return {readWaveSamples(speech), text};
}

}  // namespace

SpeechSample synthesizeSpeech(const std::string& text, const std::filesystem::path& directory) {
  return spokenBy(
      {"/usr/bin/flite", "-voice", "awb", "-t", text, "-o", (directory / "voice.wav").string()},
      text, directory);
}

SpeechSample speakInLanguage(const std::string& voice, const std::string& text,
                             const std::filesystem::path& directory) {
  return spokenBy({"/usr/bin/espeak-ng", "-v", voice, "-s", "150", "-w",
                   (directory / "voice.wav").string(), text},
                  text, directory);
}

SpeechSample joinRecordings(const std::vector<std::string>& paths, const std::string& transcript,
                            const std::filesystem::path& directory) {
  const std::filesystem::path speech = directory / "speech.wav";
  std::vector<std::string> command = {"/usr/bin/sox", "-V1"};
  command.insert(command.end(), paths.begin(), paths.end());
  command.insert(command.end(),
                 {"-r", "16000", "-c", "1", "-b", "16", speech.string(), "pad", "0.3", "1"});
  if (ChildProcess(command).wait(std::chrono::seconds(30)).exitStatus != 0) {
    throw std::runtime_error("sox failed to join " + paths.front() + " and the rest");
  }
  return {readWaveSamples(speech), transcript};
}

double wordErrorRate(const std::string& reference, const std::string& hypothesis) {
  std::vector<std::string> expected = wordsOf(reference);
  std::vector<std::string> actual = wordsOf(hypothesis);
  if (expected.empty()) return actual.empty() ? 0.0 : 1.0;
  // Levenshtein distance over words, one row at a time.
  std::vector<std::size_t> previous(actual.size() + 1), current(actual.size() + 1);
  for (std::size_t j = 0; j <= actual.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= expected.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= actual.size(); ++j) {
      std::size_t substitution = previous[j - 1] + (expected[i - 1] == actual[j - 1] ? 0 : 1);
      current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
    }
    std::swap(previous, current);
  }
  return static_cast<double>(previous[actual.size()]) / static_cast<double>(expected.size());
}

}  // namespace quorvane::testing
