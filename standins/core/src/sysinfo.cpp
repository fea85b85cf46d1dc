// Version and system information, with a hook that makes them report other values.
#include "platform/sysinfo.h"

#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/errors.h"
#include "quibtest/core.h"

namespace {

std::mutex g_lock;
bool g_overridden = false;
quibtest::ReportedSystem g_reported{};

quibtest::ReportedSystem Current() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_overridden ? g_reported : quibtest::DefaultReportedSystem();
}

}  // namespace

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  quibtest::ReportedSystem s = Current();
  std::memset(info, 0, sizeof *info);
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  info->dwMajorVersion = s.majorVersion;
  info->dwMinorVersion = s.minorVersion;
  info->dwBuildNumber = 126;
  info->dwPlatformId = s.platformId;
  return TRUE;
}

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  quibtest::ReportedSystem s = Current();
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = 5;  // ARM, as on the device
  long page = sysconf(_SC_PAGESIZE);
  info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<void*>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<void*>(0x7FFEFFFF);
  info->dwActiveProcessorMask = s.processors >= 8 * sizeof(std::uintptr_t)
                                    ? ~std::uintptr_t{0}
                                    : (std::uintptr_t{1} << s.processors) - 1;
  info->dwNumberOfProcessors = s.processors;
  info->dwAllocationGranularity = 65536;
}

namespace quibtest {

ReportedSystem DefaultReportedSystem() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return ReportedSystem{VER_PLATFORM_WIN32_CE, 3, 0, n > 0 ? static_cast<std::uint32_t>(n) : 1u};
}

void SetReportedSystem(const ReportedSystem& system) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_reported = system;
  g_overridden = true;
}

void ResetReportedSystem() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_overridden = false;
}

}  // namespace quibtest
