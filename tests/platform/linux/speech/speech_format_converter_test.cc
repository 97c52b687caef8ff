#include "platform/linux/speech/speech_format_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvane::platform::linux_backend {
namespace {

// `seconds` of a sine at `frequency` and amplitude 0.5, on every channel,
// with the channels after the first multiplied by `otherChannelsGain`.
std::vector<float> sine(double rate, std::uint32_t channels, double frequency, double seconds,
                        float otherChannelsGain = 1.0f) {
  auto frames = static_cast<std::size_t>(rate * seconds);
  std::vector<float> samples(frames * channels);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    auto value =
        static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * frequency * frame / rate));
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
      samples[frame * channels + channel] = channel == 0 ? value : value * otherChannelsGain;
    }
  }
  return samples;
}

// Converts in pieces of `pieceFrames`, then finishes.
std::vector<std::int16_t> convert(AudioFormat format, const std::vector<float>& samples,
                                  std::size_t pieceFrames) {
  SpeechFormatConverter converter(format);
  std::vector<std::int16_t> output;
  const std::size_t frames = samples.size() / format.channels;
  for (std::size_t frame = 0; frame < frames; frame += pieceFrames) {
    std::size_t count = std::min(pieceFrames, frames - frame);
    EXPECT_TRUE(converter.convert(samples.data() + frame * format.channels, count, output));
  }
  EXPECT_TRUE(converter.finish(output));
  return output;
}

// Zero crossings per second tell the frequency: two per period.
double measuredFrequency(const std::vector<std::int16_t>& samples) {
  int crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  }
  return crossings / 2.0 / (static_cast<double>(samples.size()) / 16000.0);
}

std::int16_t peak(const std::vector<std::int16_t>& samples, std::size_t skip) {
  std::int16_t highest = 0;
  for (std::size_t i = skip; i + skip < samples.size(); ++i) {
    highest = std::max<std::int16_t>(highest, static_cast<std::int16_t>(std::abs(samples[i])));
  }
  return highest;
}

TEST(SpeechFormatConverterTest, ResamplesToSixteenKilohertzKeepingLengthAndPitch) {
  for (double rate : {8000.0, 22050.0, 44100.0, 48000.0}) {
    std::vector<std::int16_t> output = convert({rate, 1}, sine(rate, 1, 440.0, 2.0), 4096);
    EXPECT_NEAR(static_cast<double>(output.size()), 32000.0, 2.0) << rate;
    EXPECT_NEAR(measuredFrequency(output), 440.0, 2.0) << rate;
    EXPECT_NEAR(peak(output, 200), 16384, 400) << rate;
  }
}

// Upsampled silence carries a faint noise floor, only upsampled audio does,
// and each session's floor is the same.
TEST(SpeechFormatConverterTest, UpsampledAudioAloneGetsAFaintNoiseFloor) {
  for (double rate : {8000.0, 11025.0, 16000.0, 48000.0}) {
    std::vector<float> silence(static_cast<std::size_t>(rate), 0.0f);
    std::vector<std::int16_t> output = convert({rate, 1}, silence, 4096);
    EXPECT_LE(peak(output, 0), SpeechFormatConverter::kNoiseFloorPeak) << rate;
    EXPECT_EQ(peak(output, 0) > 0, rate < 16000.0) << rate;
    EXPECT_EQ(output, convert({rate, 1}, silence, 333)) << rate;
  }
}

TEST(SpeechFormatConverterTest, BufferBoundariesLeaveNoTrace) {
  std::vector<float> input = sine(48000.0, 1, 1000.0, 1.0);
  std::vector<std::int16_t> whole = convert({48000.0, 1}, input, input.size());
  std::vector<std::int16_t> pieces = convert({48000.0, 1}, input, 333);
  ASSERT_EQ(whole.size(), pieces.size());
  for (std::size_t i = 0; i < whole.size(); ++i) {
    ASSERT_NEAR(whole[i], pieces[i], 1) << "sample " << i;
  }
}

TEST(SpeechFormatConverterTest, SixteenKilohertzMonoPassesStraightThrough) {
  std::vector<float> input = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f};
  std::vector<std::int16_t> output = convert({16000.0, 1}, input, 3);
  EXPECT_EQ(output, (std::vector<std::int16_t>{0, 16384, -16384, 32767, -32768, 32767, -32768}));
}

TEST(SpeechFormatConverterTest, ChannelsAreAveraged) {
  // The same voice on both channels keeps its level.
  std::vector<std::int16_t> same = convert({48000.0, 2}, sine(48000.0, 2, 440.0, 1.0), 4096);
  EXPECT_NEAR(static_cast<double>(same.size()), 16000.0, 2.0);
  EXPECT_NEAR(peak(same, 200), 16384, 400);
  EXPECT_NEAR(measuredFrequency(same), 440.0, 2.0);
  // Opposite phases cancel out.
  std::vector<std::int16_t> opposite =
      convert({48000.0, 2}, sine(48000.0, 2, 440.0, 1.0, -1.0f), 4096);
  EXPECT_LE(peak(opposite, 0), 1);
  // So does it on four channels at 16 kHz, where nothing is resampled.
  std::vector<std::int16_t> quad = convert({16000.0, 4}, sine(16000.0, 4, 440.0, 1.0), 4096);
  EXPECT_NEAR(peak(quad, 0), 16384, 20);
}

TEST(SpeechFormatConverterTest, UnusableFormatsAreRefused) {
  for (AudioFormat format : {AudioFormat{0.0, 1}, AudioFormat{48000.0, 0}, AudioFormat{-1.0, 1},
                             AudioFormat{std::nan(""), 2}}) {
    SpeechFormatConverter converter(format);
    std::vector<std::int16_t> output;
    float sample = 0.25f;
    EXPECT_FALSE(converter.convert(&sample, 1, output));
    EXPECT_FALSE(converter.finish(output));
    EXPECT_TRUE(output.empty());
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
