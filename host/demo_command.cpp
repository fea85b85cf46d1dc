// quibhost demo: the library used end to end as a device's script would use
// it: register, create by program identifier, connect an event sink, record a
// voice note through late-bound calls, play it, unregister.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "commands.h"
#include "dispatch_client.h"
#include "event_sink.h"
#include "hresult_names.h"
#include "platform/activation.h"
#include "platform/windowing.h"
#include "wide.h"

namespace quibhost {

namespace {

constexpr const char* kHelp =
    "usage: quibhost [--registry FILE] demo [--output WAV] [--seconds N] [LIBRARY]\n"
    "\n"
    "Registers LIBRARY (default: the library built with this quibhost), creates its\n"
    "object by \"QuibVoiceRec.quibVoiceRec\", connects an event sink, makes a parent\n"
    "window and calls Init, Show, Record, Stop, Play and Save late-bound, printing each\n"
    "call and each event. The recording is left in WAV (default: quibvoicerec-demo.wav\n"
    "in the current folder) and played with PlayFile; then the library is unregistered.\n"
    "Without --registry (or QUIB_REGISTRY) the demo uses a registry file of its own.\n"
    "  --output WAV   where the recording goes\n"
    "  --seconds N    how long to record (default 1)\n";

constexpr IID kEventsIid = {0x6E3A5C23, 0x2B7D, 0x4F18, {0xA9, 0xC4, 0x5D, 0x0E, 0x7B, 0x31, 0xF2, 0xA8}};
constexpr const char* kProgId = "QuibVoiceRec.quibVoiceRec";

// Makes one late-bound call and prints it with its result.
bool Call(IDispatch* object, const std::string& member, std::vector<VARIANT> args, const std::string& shown,
          VARIANT* value = nullptr) {
  std::printf("call %s(%s)\n", member.c_str(), shown.c_str());
  std::fflush(stdout);
  CallOutcome outcome = CallMember(object, member, args);
  ClearArguments(args);
  bool ok = SUCCEEDED(outcome.hr);
  if (ok)
    std::printf("  -> %s%s\n", DescribeHresult(outcome.hr).c_str(),
                outcome.result.vt == VT_EMPTY ? "" : (", value " + FormatVariant(outcome.result)).c_str());
  else
    std::printf("  -> failed: %s\n", outcome.error.c_str());
  if (value)
    *value = outcome.result;
  else
    VariantClear(&outcome.result);
  return ok;
}


VARIANT Number(LONG n) {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

VARIANT StringArg(const std::string& text) {
  std::u16string wide = Wide(text);
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return v;
}

// The WAV file's format in words, read from its header.
std::string DescribeWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[44] = {};
  if (!in.read(reinterpret_cast<char*>(h), 44)) return "too short for a WAV file";
  auto u16 = [&](int at) { return unsigned(h[at]) | unsigned(h[at + 1]) << 8; };
  auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
  unsigned rate = u32(24), bytesPerSec = u32(28), data = u32(40);
  double seconds = bytesPerSec ? double(data) / bytesPerSec : 0;
  char text[160];
  std::snprintf(text, sizeof text, "RIFF WAVE PCM, %u channel(s), %u Hz, %u-bit, %.2f s, %u data bytes", u16(22),
                rate, u16(34), seconds, data);
  return text;
}

}  // namespace

int DemoCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  std::string library = DefaultLibraryPath(), output = "quibvoicerec-demo.wav";
  double seconds = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--output" || args[i] == "--seconds") && i + 1 < args.size()) {
      if (args[i] == "--output") {
        output = args[++i];
      } else {
        char* end = nullptr;
        seconds = std::strtod(args[++i].c_str(), &end);
        if (*end || seconds < 0 || seconds > 600) {
          Fail("demo: --seconds takes a number from 0 to 600");
          return kExitUsage;
        }
      }
    } else if (!args[i].empty() && args[i][0] == '-') {
      Fail("demo: unknown option '" + args[i] + "' (see quibhost demo --help)");
      return kExitUsage;
    } else {
      library = args[i];
    }
  }
  output = std::filesystem::absolute(output).string();

  std::filesystem::path ownRegistry;
  const char* named = std::getenv("QUIB_REGISTRY");
  if (!named || !*named) {
    char pattern[] = "/tmp/quibhost-demo-XXXXXX";
    if (!mkdtemp(pattern)) {
      Fail("demo: cannot make a folder for the demo's registry");
      return kExitFailure;
    }
    ownRegistry = std::filesystem::path(pattern) / "registry.db";
    setenv("QUIB_REGISTRY", ownRegistry.c_str(), 1);
  }
  std::printf("quibhost demo\n  library  %s\n  registry %s\n  output   %s\n\n", library.c_str(),
              std::getenv("QUIB_REGISTRY"), output.c_str());

  int exitCode = CallRegistrationExport(library, false, false);
  if (exitCode != kExitOk) return exitCode;

  bool ok = false;
  {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(Wide(kProgId).c_str(), &clsid);
    IDispatch* recorder = nullptr;
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&recorder));
    std::printf("create %s -> %s\n", kProgId, DescribeHresult(hr).c_str());
    if (SUCCEEDED(hr)) {
      EventSink sink(kEventsIid, stdout);
      IConnectionPointContainer* container = nullptr;
      IConnectionPoint* point = nullptr;
      DWORD cookie = 0;
      hr = recorder->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
      if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(kEventsIid, &point);
      if (SUCCEEDED(hr)) hr = point->Advise(static_cast<IDispatch*>(&sink), &cookie);
      std::printf("connect the event sink -> %s\n", DescribeHresult(hr).c_str());

      HWND parent = CreateWindowWithProc(nullptr, WS_VISIBLE, 0, 0, 240, 320, 0, 0);
      std::printf("parent window 0x%08X\n\n", static_cast<unsigned>(parent));

      ok = SUCCEEDED(hr) && parent != 0;
      ok = ok && Call(recorder, "Init", {StringArg(output), Number(static_cast<LONG>(parent)), Number(0)},
                      "\"" + output + "\", " + std::to_string(parent) + ", 0");
      ok = ok && Call(recorder, "Show", {}, "");
      ok = ok && Call(recorder, "Record", {StringArg(output)}, "\"" + output + "\"");
      if (ok) {
        std::printf("  (recording for %g s)\n", seconds);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      }
      ok = ok && Call(recorder, "Stop", {}, "");
      ok = ok && Call(recorder, "Play", {}, "");
      ok = ok && Call(recorder, "Stop", {}, "");
      ok = ok && Call(recorder, "Save", {}, "");
      VARIANT active{};
      ok = ok && Call(recorder, "Active", {}, "", &active);
      if (ok) {
        std::printf("\nrecorded %s\n  %s\n\n", output.c_str(), DescribeWav(output).c_str());
        ok = Call(recorder, "PlayFile", {StringArg(output)}, "\"" + output + "\"");
      }
      std::printf("\n%d event(s) received\n", sink.events());

      if (point && cookie) point->Unadvise(cookie);
      if (point) point->Release();
      if (container) container->Release();
      recorder->Release();
      if (parent) DestroyWindow(parent);
    } else {
      Fail("demo: cannot create " + std::string(kProgId) + ": " + DescribeHresult(hr));
    }
  }
  CoFreeUnusedLibraries();
  int unregistered = CallRegistrationExport(library, true, false);
  if (!ownRegistry.empty()) std::filesystem::remove_all(ownRegistry.parent_path());
  if (!ok) return kExitFailure;
  return unregistered;
}

}  // namespace quibhost
