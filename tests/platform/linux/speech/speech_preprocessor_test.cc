#include "platform/linux/speech/speech_preprocessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::size_t kRate = 16000;

// Runs `samples` through the product's preprocessor in pieces of `piece`.
std::vector<std::int16_t> preprocess(const std::vector<std::int16_t>& samples, std::size_t piece) {
  SpeechPreprocessor preprocessor;
  std::vector<std::int16_t> output;
  for (std::size_t start = 0; start < samples.size(); start += piece) {
    std::vector<std::int16_t> part(
        samples.begin() + static_cast<std::ptrdiff_t>(start),
        samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), start + piece)));
    preprocessor.process(part);
    output.insert(output.end(), part.begin(), part.end());
  }
  preprocessor.finish(output);
  return output;
}

double rms(const std::vector<std::int16_t>& samples, std::size_t from) {
  double sum = 0;
  for (std::size_t i = from; i < samples.size(); ++i) sum += double(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(samples.size() - from));
}

// A voice-like sound at `amplitude`: syllables of a buzz with its
// harmonics, each at its own pitch and length, with pauses between them.
std::vector<std::int16_t> syllables(double amplitude, double seconds) {
  std::minstd_rand random(3);
  std::uniform_real_distribution<double> pitch(110.0, 260.0), length(0.08, 0.3), pause(0.05, 0.4);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
  std::size_t i = 0;
  while (i < samples.size()) {
    double f0 = pitch(random);
    std::size_t end =
        std::min(samples.size(), i + static_cast<std::size_t>(length(random) * kRate));
    for (std::size_t k = 0; i < end; ++i, ++k) {
      double t = static_cast<double>(k) / kRate;
      double buzz = 0;
      for (int harmonic = 1; harmonic <= 10; ++harmonic) {
        buzz += std::sin(2 * std::numbers::pi * f0 * harmonic * t) / harmonic;
      }
      samples[i] = static_cast<std::int16_t>(amplitude * buzz / 2);
    }
    i += static_cast<std::size_t>(pause(random) * kRate);
  }
  return samples;
}

std::vector<std::int16_t> whiteNoise(double amplitude, double seconds) {
  std::minstd_rand random(7);
  std::normal_distribution<double> normal(0.0, amplitude);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
  for (std::int16_t& sample : samples) sample = static_cast<std::int16_t>(normal(random));
  return samples;
}

std::vector<std::int16_t> mixed(std::vector<std::int16_t> a, const std::vector<std::int16_t>& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::int16_t>(a[i] + b[i]);
  return a;
}

// Noise is taken out where there is some, and nothing else is touched:
// over the last two seconds of four (the first two let the noise estimate
// settle), the output is the input, or its RMS over the input's lies
// within [least, most].
TEST(SpeechPreprocessorTest, TakesOutNoiseAndLeavesQuietAudioAlone) {
  struct Case {
    std::string name;
    std::vector<std::int16_t> input;
    bool unchanged;
    double least, most;
  };
  const Case cases[] = {
      {"digital silence", std::vector<std::int16_t>(4 * kRate), true, 0, 0},
      {"a good microphone's hiss (-60 dBFS)", whiteNoise(30.0, 4), true, 0, 0},
      {"a recording's floor (-50 dBFS)", whiteNoise(100.0, 4), true, 0, 0},
      {"clean speech", syllables(8000.0, 4), true, 0, 0},
      {"quiet speech", syllables(300.0, 4), true, 0, 0},
      {"noise (-30 dBFS)", whiteNoise(1000.0, 4), false, 0.0, 0.3},
      {"speech in that noise keeps its level", mixed(syllables(8000.0, 4), whiteNoise(1000.0, 4)),
       false, 0.7, 1.0},
  };
  const std::size_t settled = 2 * kRate;
  for (const Case& c : cases) {
    std::vector<std::int16_t> output = preprocess(c.input, 1000);
    ASSERT_EQ(output.size(), c.input.size()) << c.name;
    if (c.unchanged) {
      EXPECT_EQ(output, c.input) << c.name;
    } else {
      double ratio = rms(output, settled) / rms(c.input, settled);
      EXPECT_GE(ratio, c.least) << c.name;
      EXPECT_LE(ratio, c.most) << c.name;
    }
  }
}

// However the captured audio is cut into buffers, the recognizer hears the
// same samples.
TEST(SpeechPreprocessorTest, BufferBoundariesLeaveNoTrace) {
  std::vector<std::int16_t> input = mixed(syllables(4000.0, 1.5), whiteNoise(1000.0, 1.5));
  std::vector<std::int16_t> whole = preprocess(input, input.size());
  EXPECT_EQ(preprocess(input, 333), whole);
  EXPECT_EQ(preprocess(input, SpeechPreprocessor::kFrameSamples), whole);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
