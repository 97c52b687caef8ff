#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

// The samples of a 16 kHz mono 16-bit WAV file; empty when it is not one.
inline std::vector<std::int16_t> readWav(const std::string& path) {
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
      if (channels != 1 || rate != 16000 || bits != 16) return {};
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
