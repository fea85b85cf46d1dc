// Test helpers for sound files: build RIFF WAVE images, write and read files
// in the test's temporary directory, read back the layout of a PCM file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace quibtest {

struct WaveParams {
  std::uint16_t formatTag = 1;
  std::uint16_t channels = 1;
  std::uint32_t samplesPerSec = 8000;
  std::uint16_t bitsPerSample = 16;
  std::uint32_t frames = 800;
};

inline void PutLe(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A canonical 44-byte-header image; sample byte i is (i * 7) & 0xFF.
inline std::vector<unsigned char> WaveBytes(const WaveParams& record) {
  std::uint32_t blockAlign = record.channels * (record.bitsPerSample / 8);
  std::uint32_t dataBytes = record.frames * blockAlign;
  std::vector<unsigned char> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  PutLe(out, 36 + dataBytes, 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(out, 16, 4);
  PutLe(out, record.formatTag, 2);
  PutLe(out, record.channels, 2);
  PutLe(out, record.samplesPerSec, 4);
  PutLe(out, record.samplesPerSec * blockAlign, 4);
  PutLe(out, blockAlign, 2);
  PutLe(out, record.bitsPerSample, 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  PutLe(out, dataBytes, 4);
  for (std::uint32_t i = 0; i < dataBytes; ++i) out.push_back(static_cast<unsigned char>((i * 7) & 0xFF));
  return out;
}

// A path in the test's temporary directory, unique to this process.
inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "quib_" + std::to_string(::getpid()) + "_" + name;
}

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    unsigned char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
  }
  return bytes;
}

inline std::uint32_t Le32At(const std::vector<unsigned char>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint16_t Le16At(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The layout of a file with the canonical 44-byte header, checked field by field.
struct WaveLayout {
  bool canonical = false;
  std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
  std::uint32_t samplesPerSec = 0, avgBytesPerSec = 0, dataBytes = 0;
};

inline WaveLayout ReadWaveLayout(const std::vector<unsigned char>& b) {
  WaveLayout w;
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVEfmt ", 8) != 0 ||
      Le32At(b, 16) != 16 || std::memcmp(b.data() + 36, "data", 4) != 0)
    return w;
  w.formatTag = Le16At(b, 20);
  w.channels = Le16At(b, 22);
  w.samplesPerSec = Le32At(b, 24);
  w.avgBytesPerSec = Le32At(b, 28);
  w.blockAlign = Le16At(b, 32);
  w.bitsPerSample = Le16At(b, 34);
  w.dataBytes = Le32At(b, 40);
  std::uint32_t padded = w.dataBytes + (w.dataBytes & 1);
  w.canonical = Le32At(b, 4) == 36 + padded && b.size() == 44 + padded;
  return w;
}

}  // namespace quibtest
