// The message box and sound stand-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/sound.h"
#include "platform/windowing.h"
#include "quibtest/windows.h"
#include "wave_files.h"

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

TEST(MessageBox, WritesCaptionAndTextToStandardErrorAndReturnsOk) {
  quibtest::ClearMessageBoxes();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(42, u"Something happened", u"Title", MB_OKCANCEL | MB_ICONEXCLAMATION), IDOK);
  std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(written.find("Title"), std::string::npos);
  EXPECT_NE(written.find("Something happened"), std::string::npos);

  auto boxes = quibtest::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, 42u);
  EXPECT_EQ(boxes[0].text, u"Something happened");
  EXPECT_EQ(boxes[0].caption, u"Title");
  EXPECT_EQ(boxes[0].style, 0x31u);
}

TEST(MessageBox, NullTextAndCaptionAreEmpty) {
  quibtest::ClearMessageBoxes();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(0, nullptr, nullptr, 0), IDOK);
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(quibtest::MessageBoxes().size(), 1u);
  EXPECT_TRUE(quibtest::MessageBoxes()[0].text.empty());
}

class Sound : public ::testing::Test {
 protected:
  void SetUp() override { quibtest::ClearPlayedSounds(); }
};

TEST_F(Sound, PlaysAWaveFileAndRecordsWhatWasPlayed) {
  std::string path = quibtest::TempPath("tone.wav");
  quibtest::WriteBytes(path, quibtest::WaveBytes({1, 2, 22050, 16, 11025}));
  EXPECT_TRUE(PlaySoundW(Wide(path).c_str(), nullptr, SND_FILENAME | SND_ASYNC));
  auto played = quibtest::PlayedSounds();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].path, Wide(path));
  EXPECT_EQ(played[0].format, (quibtest::WaveFormat{1, 2, 22050, 88200, 4, 16}));
  EXPECT_EQ(played[0].frames, 11025u);
  EXPECT_EQ(played[0].durationMs, 500u);
  EXPECT_EQ(played[0].flags, SND_FILENAME | SND_ASYNC);
}

TEST_F(Sound, PlaysAnImageInMemory) {
  std::vector<unsigned char> image = quibtest::WaveBytes({1, 1, 8000, 8, 8000});
  EXPECT_TRUE(PlaySoundW(reinterpret_cast<LPCWSTR>(image.data()), nullptr, SND_MEMORY));
  ASSERT_EQ(quibtest::PlayedSounds().size(), 1u);
  EXPECT_EQ(quibtest::PlayedSounds()[0].durationMs, 1000u);
  EXPECT_TRUE(quibtest::PlayedSounds()[0].path.empty());
}

TEST_F(Sound, AMissingFileIsRefused) {
  SetLastError(0);
  EXPECT_FALSE(PlaySoundW(Wide(quibtest::TempPath("no-such.wav")).c_str(), nullptr, SND_FILENAME | SND_ASYNC));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(quibtest::PlayedSounds().empty());
}

TEST_F(Sound, MalformedFilesAreRefused) {
  std::vector<unsigned char> good = quibtest::WaveBytes({});
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
  };
  auto with = [&](std::size_t at, std::vector<unsigned char> patch) {
    std::vector<unsigned char> b = good;
    std::copy(patch.begin(), patch.end(), b.begin() + static_cast<long>(at));
    return b;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"not RIFF", with(0, {'R', 'I', 'F', 'X'})},
      {"not WAVE", with(8, {'A', 'V', 'I', ' '})},
      {"not PCM", with(20, {3, 0})},
      {"no channels", with(22, {0, 0})},
      {"odd sample size", with(34, {12, 0})},
      {"block align disagrees", with(32, {3, 0})},
      {"data runs past the end", with(40, {0xFF, 0xFF, 0, 0})},
      {"no data chunk", with(36, {'j', 'u', 'n', 'k'})},
      {"header only", std::vector<unsigned char>(good.begin(), good.begin() + 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = quibtest::TempPath("bad.wav");
    quibtest::WriteBytes(path, c.bytes);
    SetLastError(0);
    EXPECT_FALSE(PlaySoundW(Wide(path).c_str(), nullptr, SND_FILENAME));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
  }
  EXPECT_TRUE(quibtest::PlayedSounds().empty());
}

TEST_F(Sound, ExtraChunksAndAnOddLengthAreRead) {
  std::vector<unsigned char> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                  'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  std::vector<unsigned char> wave = quibtest::WaveBytes({1, 1, 8000, 8, 3});
  b.insert(b.end(), wave.begin() + 12, wave.end());
  b.push_back(0);  // pad of the odd data chunk
  std::uint32_t riff = static_cast<std::uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  std::string path = quibtest::TempPath("chunks.wav");
  quibtest::WriteBytes(path, b);
  EXPECT_TRUE(PlaySoundW(Wide(path).c_str(), nullptr, SND_FILENAME));
  ASSERT_EQ(quibtest::PlayedSounds().size(), 1u);
  EXPECT_EQ(quibtest::PlayedSounds()[0].frames, 3u);
}

TEST_F(Sound, ANullNameStopsAndAnUnknownAliasIsRefused) {
  EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));
  EXPECT_FALSE(PlaySoundW(u"SystemStart", nullptr, SND_ALIAS));
  EXPECT_TRUE(quibtest::PlayedSounds().empty());
}

}  // namespace
