// One table of the status codes quibhost reports, with a line of words each.
#include "hresult_names.h"

#include <cstdio>

#include "platform/activation.h"
#include "platform/automation.h"

namespace quibhost {

namespace {

struct Entry {
  HRESULT code;
  const char* name;
  const char* words;
};

constexpr Entry kCodes[] = {
    {S_OK, "S_OK", "success"},
    {S_FALSE, "S_FALSE", "success, nothing done"},
    {E_NOTIMPL, "E_NOTIMPL", "not implemented"},
    {E_NOINTERFACE, "E_NOINTERFACE", "interface not supported"},
    {E_POINTER, "E_POINTER", "missing pointer"},
    {E_FAIL, "E_FAIL", "unspecified failure"},
    {E_UNEXPECTED, "E_UNEXPECTED", "unexpected failure"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "invalid argument"},
    {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE", "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "member not found"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND", "parameter not found"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "argument type mismatch"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "unknown name"},
    {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS", "named arguments not supported"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "bad variant type"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION", "exception raised by the call"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "argument out of range"},
    {DISP_E_BADINDEX, "DISP_E_BADINDEX", "bad index"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "wrong number of arguments"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "argument missing"},
    {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND", "element not found in the type library"},
    {TYPE_E_LIBNOTREGISTERED, "TYPE_E_LIBNOTREGISTERED", "type library not registered"},
    {TYPE_E_CANTLOADLIBRARY, "TYPE_E_CANTLOADLIBRARY", "type library cannot be loaded"},
    {TYPE_E_INVALIDSTATE, "TYPE_E_INVALIDSTATE", "type library in an invalid state"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "class cannot be aggregated"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE", "class not available from this library"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "class not registered"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB", "registry cannot be read"},
    {REGDB_E_KEYMISSING, "REGDB_E_KEYMISSING", "registry key missing"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "invalid class string or program identifier"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND", "server library not found"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL", "server library lacks an entry point"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION", "no such connection"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT", "no more connections possible"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT", "sink does not implement the event interface"},
    {static_cast<HRESULT>(0x80070002), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)", "file or key not found"},
    {static_cast<HRESULT>(0x80070005), "E_ACCESSDENIED", "access denied"},
    {static_cast<HRESULT>(0x8007007E), "HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)", "module not found"},
    {static_cast<HRESULT>(0x8007007F), "HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)", "routine not found"},
    {static_cast<HRESULT>(0x80070714), "HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND)", "resource data not found"},
    {static_cast<HRESULT>(0x80070715), "HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND)", "resource type not found"},
    {static_cast<HRESULT>(0x80070716), "HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)", "resource not found"},
};

const Entry* Find(HRESULT hr) {
  for (const Entry& e : kCodes)
    if (e.code == hr) return &e;
  return nullptr;
}

}  // namespace

const char* HresultName(HRESULT hr) {
  const Entry* e = Find(hr);
  return e ? e->name : "";
}

std::string DescribeHresult(HRESULT hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  const Entry* e = Find(hr);
  if (e) return std::string(hex) + " " + e->name + " (" + e->words + ")";
  if ((static_cast<unsigned>(hr) & 0xFFFF0000u) == 0x80070000u)
    return std::string(hex) + " (platform error " + std::to_string(static_cast<unsigned>(hr) & 0xFFFFu) + ")";
  return std::string(hex) + (FAILED(hr) ? " (failure)" : " (success)");
}

}  // namespace quibhost
