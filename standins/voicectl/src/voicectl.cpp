// The voice recorder control: a dialog window with record, play and stop
// buttons that records PCM samples from a configurable source while its clock
// runs, plays them through the sound output, and on OK writes them as a RIFF
// WAVE file to the name it was created with.
//
// Sections: the source and the clock; notification records; the control;
// VoiceRecorder_Create; test hooks.
#include <sys/mman.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/sound.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "quibcore/utf.h"
#include "quibtest/voicectl.h"

namespace {

// ---- The source and the clock --------------------------------------------

struct Format {
  WORD channels;
  DWORD samplesPerSec;
  WORD bitsPerSample;
  WORD BlockAlign() const { return static_cast<WORD>(channels * (bitsPerSample / 8)); }
};

struct Source {
  bool fromFile = false;
  std::string path;
  DWORD frequency = 440;
  Format format{1, 8000, 16};
};

std::mutex g_lock;  // the source, the clock, the control table and the logs
Source g_source;
bool g_clockDriven = false;
unsigned long long g_drivenNow = 0;

unsigned long long RealMilliseconds() {
  using namespace std::chrono;
  return static_cast<unsigned long long>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

unsigned long long Now() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_clockDriven ? g_drivenNow : RealMilliseconds();
}

DWORD Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }
WORD Le16(const unsigned char* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
void Put32(std::vector<unsigned char>& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void Put16(std::vector<unsigned char>& out, WORD v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

// A capture: the source's format and, for a file, its samples.
struct Capture {
  Format format;
  bool fromFile;
  DWORD frequency;
  std::vector<unsigned char> fileSamples;
};

// Reads the PCM samples of a RIFF WAVE file.
std::optional<Capture> OpenFileSource(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::vector<unsigned char> bytes;
  unsigned char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(file);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
    return std::nullopt;
  std::optional<Format> format;
  std::optional<Capture> capture;
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const unsigned char* chunk = bytes.data() + at;
    std::size_t length = Le32(chunk + 4);
    if (length > bytes.size() - at - 8) return std::nullopt;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16) {
      if (Le16(chunk + 8) != 1) return std::nullopt;  // PCM only
      format = Format{Le16(chunk + 10), Le32(chunk + 12), Le16(chunk + 22)};
    } else if (std::memcmp(chunk, "data", 4) == 0 && format && !capture) {
      capture = Capture{*format, true, 0, std::vector<unsigned char>(chunk + 8, chunk + 8 + length)};
    }
    at += 8 + length + (length & 1);
  }
  if (!capture) return std::nullopt;
  const Format& f = capture->format;
  bool usable = f.channels >= 1 && f.samplesPerSec >= 1 && (f.bitsPerSample == 8 || f.bitsPerSample == 16);
  if (!usable) return std::nullopt;
  return capture;
}

std::optional<Capture> OpenSource() {
  Source source;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    source = g_source;
  }
  if (source.fromFile) return OpenFileSource(source.path);
  return Capture{source.format, false, source.frequency, {}};
}

// The samples of the first `frames` frames of a capture.
std::vector<unsigned char> Samples(const Capture& capture, DWORD frames) {
  const Format& f = capture.format;
  std::size_t bytes = static_cast<std::size_t>(frames) * f.BlockAlign();
  std::vector<unsigned char> out(bytes, f.bitsPerSample == 8 ? 0x80 : 0x00);  // silence
  if (capture.fromFile) {
    std::size_t copied = std::min(bytes, capture.fileSamples.size());
    if (copied) std::memcpy(out.data(), capture.fileSamples.data(), copied);
    return out;
  }
  const double step = 2.0 * 3.14159265358979323846 * capture.frequency / f.samplesPerSec;
  for (DWORD i = 0; i < frames; ++i) {
    double value = 0.5 * std::sin(step * i);
    for (WORD c = 0; c < f.channels; ++c) {
      unsigned char* at = out.data() + (static_cast<std::size_t>(i) * f.channels + c) * (f.bitsPerSample / 8);
      if (f.bitsPerSample == 8) {
        at[0] = static_cast<unsigned char>(128 + std::lround(value * 127));
      } else {
        auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value * 32767)));
        at[0] = static_cast<unsigned char>(sample);
        at[1] = static_cast<unsigned char>(sample >> 8);
      }
    }
  }
  return out;
}

std::vector<unsigned char> WaveImage(const Format& f, const std::vector<unsigned char>& samples) {
  std::vector<unsigned char> out;
  DWORD dataBytes = static_cast<DWORD>(samples.size());
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, 36 + dataBytes + (dataBytes & 1));
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, f.channels);
  Put32(out, f.samplesPerSec);
  Put32(out, f.samplesPerSec * f.BlockAlign());
  Put16(out, f.BlockAlign());
  Put16(out, f.bitsPerSample);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(out, dataBytes);
  out.insert(out.end(), samples.begin(), samples.end());
  if (dataBytes & 1) out.push_back(0);
  return out;
}


// ---- Notification records --------------------------------------------------
//
// lParam is 32 bits wide on every build, so the records live in one page
// mapped below 4 GiB, used as a ring: a record stays intact while up to
// kRecords later notifications are sent (ample for nested sends).

constexpr std::size_t kRecords = 4096 / sizeof(NMHDR);
NMHDR* g_records = nullptr;
std::size_t g_nextRecord = 0;

bool MapRecords() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_records) return true;
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
  if (sizeof(void*) > 4) flags |= MAP_32BIT;
#endif
  void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (page == MAP_FAILED) return false;
  // On a 64-bit build the address must survive a signed 32-bit lParam.
  if (sizeof(void*) > 4 && reinterpret_cast<std::uintptr_t>(page) + 4096 > 0x80000000u) {
    munmap(page, 4096);
    return false;
  }
  g_records = static_cast<NMHDR*>(page);
  return true;
}

NMHDR* NextRecord() {
  std::lock_guard<std::mutex> hold(g_lock);
  NMHDR* record = &g_records[g_nextRecord];
  g_nextRecord = (g_nextRecord + 1) % kRecords;
  return record;
}

std::vector<quibtest::VoiceNotification> g_notifications;

// ---- The control -----------------------------------------------------------

struct Control {
  HWND window = 0;
  HWND parent = 0;
  UINT id = 0;
  std::u16string fileName;
  bool hasFileName = false;
  enum { Idle, Recording, Playing } state = Idle;
  unsigned long long since = 0;  // when recording or playing started
  std::optional<Capture> capture;  // while recording
  Format format{1, 8000, 16};      // of the recording
  std::vector<unsigned char> samples;
  bool hasRecording = false;
  bool closing = false;  // sending its closing notification
  bool gone = false;     // its window is destroyed
};

// Shared: a procedure keeps its control alive while a notification it sends
// leads to the control's closing (a sink may cancel it from inside).
std::map<HWND, std::shared_ptr<Control>> g_controls;

std::shared_ptr<Control> Find(HWND window) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_controls.find(window);
  return it == g_controls.end() ? nullptr : it->second;
}

// After a notification: whether the control is still there to go on with.
bool Going(const Control* c) { return !c->closing && !c->gone; }

// Sends WM_NOTIFY through the control's own window, so that whatever
// procedure holds its dialog slot sees the notification first.
void Notify(Control* c, INT code) {
  NMHDR* record = NextRecord();
  record->hwndFrom = c->window;
  record->idFrom = c->id;
  record->code = code;
  auto lParam = static_cast<LPARAM>(reinterpret_cast<std::uintptr_t>(record));
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_notifications.push_back({c->window, code, lParam});
  }
  SendMessageW(c->window, WM_NOTIFY, c->id, lParam);
}

DWORD FramesSince(unsigned long long since, DWORD samplesPerSec) {
  unsigned long long elapsed = Now() - since;
  return static_cast<DWORD>(elapsed * samplesPerSec / 1000);
}

DWORD RecordedMilliseconds(const Control* c) {
  DWORD frames = static_cast<DWORD>(c->samples.size() / c->format.BlockAlign());
  return static_cast<DWORD>(static_cast<unsigned long long>(frames) * 1000 / c->format.samplesPerSec);
}

// Each returns whether it changed anything.
bool FinishRecording(Control* c, bool report) {
  if (c->state != Control::Recording) return false;
  c->format = c->capture->format;
  c->samples = Samples(*c->capture, FramesSince(c->since, c->format.samplesPerSec));
  c->capture.reset();
  c->hasRecording = true;
  c->state = Control::Idle;
  if (report) Notify(c, VRN_RECORD_STOP);
  return true;
}

bool FinishPlaying(Control* c, bool report) {
  if (c->state != Control::Playing) return false;
  c->state = Control::Idle;
  PlaySoundW(nullptr, nullptr, 0);  // stop the output
  if (report) Notify(c, VRN_PLAY_STOP);
  return true;
}

// A playing control whose recording has played to its end stops by itself.
void CheckEndOfPlay(Control* c) {
  if (c->state == Control::Playing && Now() - c->since >= RecordedMilliseconds(c)) FinishPlaying(c, true);
}

void StartRecording(Control* c) {
  if (c->state == Control::Recording) return;
  FinishPlaying(c, true);
  if (!Going(c)) return;
  std::optional<Capture> capture = OpenSource();
  if (!capture) {
    Notify(c, VRN_ERROR);
    return;
  }
  c->capture = std::move(capture);
  c->state = Control::Recording;
  c->since = Now();
  Notify(c, VRN_RECORD_START);
}

void StartPlaying(Control* c) {
  if (c->state == Control::Playing) return;
  FinishRecording(c, true);
  if (!Going(c)) return;
  if (!c->hasRecording || c->samples.empty()) {
    Notify(c, VRN_ERROR);
    return;
  }
  c->state = Control::Playing;
  c->since = Now();
  std::vector<unsigned char> image = WaveImage(c->format, c->samples);
  PlaySoundW(reinterpret_cast<LPCWSTR>(image.data()), nullptr, SND_MEMORY | SND_ASYNC);
  Notify(c, VRN_PLAY_START);
}

bool WriteRecording(const Control* c) {
  if (!c->hasFileName || c->fileName.empty()) return false;
  std::vector<unsigned char> image = WaveImage(c->format, c->samples);
  std::FILE* file = std::fopen(quibcore::ToUtf8(c->fileName.c_str(), c->fileName.size()).c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  return std::fclose(file) == 0 && written;
}

// Closes the control: the closing notification, then the window goes.
void Close(Control* c, INT code) {
  if (!Going(c)) return;
  c->closing = true;
  Notify(c, code);
  DestroyWindow(c->window);  // WM_DESTROY forgets the control
}

LRESULT ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Control> keep = Find(window);
  Control* c = keep.get();
  if (!c) return message == WM_INITDIALOG ? TRUE : FALSE;  // not yet (or no longer) a control
  if (message != WM_NOTIFY && message != WM_DESTROY) CheckEndOfPlay(c);
  if (!Going(c) && message != WM_NOTIFY && message != WM_DESTROY) return TRUE;
  switch (message) {
    case WM_COMMAND:
      switch (LowWord(wParam)) {
        case VRC_RECORD: StartRecording(c); return TRUE;
        case VRC_PLAY: StartPlaying(c); return TRUE;
        case VRC_STOP:
          if (!FinishRecording(c, true)) FinishPlaying(c, true);
          return TRUE;
        default: return FALSE;
      }
    case VRM_PLAY: StartPlaying(c); return TRUE;
    case VRM_STOP:
      if (!FinishRecording(c, true)) FinishPlaying(c, true);
      return TRUE;
    case VRM_CANCEL:
    case WM_CLOSE:  // closing the dialog is cancelling it
      FinishRecording(c, false);
      FinishPlaying(c, false);
      c->samples.clear();
      c->hasRecording = false;
      Close(c, VRN_CANCEL);
      return TRUE;
    case VRM_OK:
      FinishRecording(c, true);
      if (Going(c)) FinishPlaying(c, true);
      if (!Going(c)) return TRUE;
      if (WriteRecording(c)) {
        Close(c, VRN_OK);
      } else {
        Notify(c, VRN_ERROR);
        Close(c, VRN_CANCEL);  // closed with nothing written
      }
      return TRUE;
    case WM_NOTIFY: {
      // Our own notifications go on to the parent, as a control's do.
      auto* record = reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)));
      if (record && record->hwndFrom == window && IsWindow(c->parent)) SendMessageW(c->parent, WM_NOTIFY, wParam, lParam);
      return TRUE;
    }
    case WM_DESTROY: {
      c->gone = true;
      std::lock_guard<std::mutex> hold(g_lock);
      g_controls.erase(window);
      return TRUE;
    }
    default: return FALSE;
  }
}

// A push button: a click becomes WM_COMMAND (its id, BN_CLICKED) to its parent.
LRESULT ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == BM_CLICK) {
    auto id = static_cast<WORD>(GetWindowLongPtrW(window, GWL_ID));
    SendMessageW(GetParent(window), WM_COMMAND, MakeWParam(id, BN_CLICKED), static_cast<LPARAM>(window));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// ---- VoiceRecorder_Create ---------------------------------------------------

namespace {

std::vector<quibtest::CreationRecord> g_creations;

HWND Created(HWND window) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_creations.back().result = window;
  return window;
}

HWND CreateControl(VoiceRecorderSpec* record);

}  // namespace

HWND VoiceRecorder_Create(VoiceRecorderSpec* record) {
  if (record) {
    auto* bytes = reinterpret_cast<const unsigned char*>(record);
    std::size_t length = record->size == sizeof(VoiceRecorderSpec) ? sizeof(VoiceRecorderSpec) : sizeof(WORD);
    std::lock_guard<std::mutex> hold(g_lock);
    g_creations.push_back({std::vector<unsigned char>(bytes, bytes + length), 0});
  }
  HWND window = CreateControl(record);
  return record ? Created(window) : window;
}

namespace {

HWND CreateControl(VoiceRecorderSpec* record) {
  if (!record || record->size != sizeof(VoiceRecorderSpec)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!IsWindow(record->parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!MapRecords()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto control = std::make_shared<Control>();
  control->parent = record->parent;
  control->id = record->id;
  control->hasFileName = record->fileName != nullptr;
  if (record->fileName) control->fileName = record->fileName;  // the caller's string may go away

  DWORD style = (record->style & ~WS_CHILD) | WS_CHILD;
  HWND window = CreateDialogWindow(&ControlProc, style, record->x, record->y, 160, 40, record->parent, record->id, 0);
  if (!window) return 0;
  control->window = window;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_controls[window] = std::move(control);
  }
  // The record button first: command VRC_RECORD names it.
  const WORD buttons[] = {VRC_RECORD, VRC_PLAY, VRC_STOP};
  for (int i = 0; i < 3; ++i) {
    if (!CreateWindowWithProc(&ButtonProc, WS_CHILD | WS_VISIBLE, 4 + 40 * i, 4, 36, 32, window, buttons[i])) {
      DestroyWindow(window);
      return 0;
    }
  }
  return window;
}

}  // namespace

// ---- Test hooks -------------------------------------------------------------

namespace quibtest {

void SetVoiceSourceTone(DWORD frequencyHz, DWORD samplesPerSec, WORD bitsPerSample, WORD channels) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_source = Source{false, {}, frequencyHz, Format{channels, samplesPerSec, bitsPerSample}};
}

void SetVoiceSourceFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_source.fromFile = true;
  g_source.path = path;
}

void ResetVoiceSource() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_source = Source{};
}

void DriveVoiceClock() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_clockDriven) g_drivenNow = RealMilliseconds();
  g_clockDriven = true;
}

void AdvanceVoiceClock(DWORD milliseconds) {
  std::vector<HWND> playing;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_drivenNow += milliseconds;
    for (auto& [window, control] : g_controls)
      if (control->state == Control::Playing) playing.push_back(window);
  }
  for (HWND window : playing)
    if (std::shared_ptr<Control> c = Find(window)) CheckEndOfPlay(c.get());
}

void UseRealVoiceClock() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_clockDriven = false;
}

VoiceControlState VoiceControlStateOf(HWND window) {
  std::lock_guard<std::mutex> hold(g_lock);
  auto it = g_controls.find(window);
  if (it == g_controls.end()) return VoiceControlState{false, {}, false, false, false, 0};
  const Control& c = *it->second;
  return VoiceControlState{true,
                           c.fileName,
                           c.hasFileName,
                           c.state == Control::Recording,
                           c.state == Control::Playing,
                           static_cast<DWORD>(c.samples.size() / c.format.BlockAlign())};
}

std::size_t LiveVoiceControls() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_controls.size();
}

std::vector<CreationRecord> CreationRecords() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_creations;
}

void ClearCreationRecords() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_creations.clear();
}

std::vector<VoiceNotification> VoiceNotifications() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_notifications;
}

void ClearVoiceNotifications() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_notifications.clear();
}

}  // namespace quibtest
