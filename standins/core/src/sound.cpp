// Sound playback. A sound is a RIFF WAVE file (or its image in memory) with
// PCM samples; the default output plays nothing aloud but records what it
// was given, for tests to read.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/sound.h"
#include "quibtest/windows.h"
#include "quibcore/utf.h"

namespace {

std::mutex g_lock;
std::vector<quibtest::PlayedSound> g_played;

constexpr std::size_t kLargestSound = 256u << 20;  // bytes read from a file at most

DWORD Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }
WORD Le16(const unsigned char* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

struct Parsed {
  quibtest::WaveFormat format;
  DWORD frames;
};

// Walks the chunks of a RIFF WAVE image; the output plays PCM only.
std::optional<Parsed> ParseWave(const unsigned char* data, std::size_t size) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return std::nullopt;
  std::size_t end = std::min<std::size_t>(size, 8 + static_cast<std::size_t>(Le32(data + 4)));
  std::optional<quibtest::WaveFormat> format;
  std::optional<DWORD> dataBytes;
  for (std::size_t at = 12; at + 8 <= end;) {
    const unsigned char* chunk = data + at;
    std::size_t length = Le32(chunk + 4);
    if (length > end - at - 8) return std::nullopt;  // a chunk runs past the end
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < 16) return std::nullopt;
      const unsigned char* f = chunk + 8;
      format = quibtest::WaveFormat{Le16(f), Le16(f + 2), Le32(f + 4), Le32(f + 8), Le16(f + 12), Le16(f + 14)};
    } else if (std::memcmp(chunk, "data", 4) == 0 && !dataBytes) {
      dataBytes = static_cast<DWORD>(length);
    }
    at += 8 + length + (length & 1);
  }
  if (!format || !dataBytes) return std::nullopt;
  const quibtest::WaveFormat& f = *format;
  bool pcm = f.formatTag == 1 && f.channels >= 1 && f.samplesPerSec >= 1 &&
             (f.bitsPerSample == 8 || f.bitsPerSample == 16 || f.bitsPerSample == 24 || f.bitsPerSample == 32) &&
             f.blockAlign == f.channels * (f.bitsPerSample / 8) && f.avgBytesPerSec == f.samplesPerSec * f.blockAlign;
  if (!pcm) return std::nullopt;
  return Parsed{f, *dataBytes / f.blockAlign};
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes.size() < kLargestSound)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(file);
  return true;
}

BOOL Refuse(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

BOOL PlaySoundW(LPCWSTR name, HMODULE, DWORD flags) {
  if (!name) return TRUE;  // stop: nothing keeps playing on this output
  std::vector<unsigned char> bytes;
  std::u16string path;
  if (flags & SND_MEMORY) {
    auto* image = reinterpret_cast<const unsigned char*>(name);
    if (std::memcmp(image, "RIFF", 4) != 0) return Refuse(ERROR_BAD_FORMAT);
    bytes.assign(image, image + 8 + Le32(image + 4));
  } else if ((flags & SND_ALIAS) && !(flags & SND_FILENAME)) {
    return Refuse(ERROR_FILE_NOT_FOUND);  // this output knows no aliases
  } else {
    path = name;
    if (!ReadFile(quibcore::ToUtf8(name), bytes)) return Refuse(ERROR_FILE_NOT_FOUND);
  }
  std::optional<Parsed> wave = ParseWave(bytes.data(), bytes.size());
  if (!wave) return Refuse(ERROR_BAD_FORMAT);
  DWORD durationMs = static_cast<DWORD>(static_cast<unsigned long long>(wave->frames) * 1000 / wave->format.samplesPerSec);
  std::lock_guard<std::mutex> hold(g_lock);
  g_played.push_back({path, wave->format, wave->frames, durationMs, flags});
  return TRUE;
}

namespace quibtest {

std::vector<PlayedSound> PlayedSounds() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_played;
}

void ClearPlayedSounds() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_played.clear();
}

}  // namespace quibtest
