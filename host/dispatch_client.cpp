// Late-bound calls through IDispatch.
#include "dispatch_client.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "hresult_names.h"
#include "wide.h"

namespace quibhost {

VARIANT ParseArgument(const std::string& text) {
  VARIANT v{};
  VariantInit(&v);
  if (!text.empty()) {
    errno = 0;
    char* end = nullptr;
    long long whole = std::strtoll(text.c_str(), &end, 10);
    if (errno == 0 && *end == 0 && whole >= INT32_MIN && whole <= INT32_MAX) {
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(whole);
      return v;
    }
    errno = 0;
    double real = std::strtod(text.c_str(), &end);
    if (errno == 0 && *end == 0 && text.find_first_of("0123456789") != std::string::npos) {
      v.vt = VT_R8;
      v.dblVal = real;
      return v;
    }
  }
  std::u16string wide = Wide(text);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return v;
}

void ClearArguments(std::vector<VARIANT>& args) {
  for (VARIANT& v : args) VariantClear(&v);
}

CallOutcome CallMember(IDispatch* object, const std::string& member, std::vector<VARIANT>& args) {
  CallOutcome outcome;
  VariantInit(&outcome.result);
  std::u16string name = Wide(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  outcome.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(outcome.hr)) {
    outcome.error = "no member named '" + member + "': " + DescribeHresult(outcome.hr);
    return outcome;
  }
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO exception{};
  UINT argError = 0;
  outcome.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                              &outcome.result, &exception, &argError);
  if (FAILED(outcome.hr)) {
    outcome.error = member + " failed: " + DescribeHresult(outcome.hr);
    if (outcome.hr == DISP_E_EXCEPTION && exception.scode)
      outcome.error += "; the member returned " + DescribeHresult(exception.scode);
    if (outcome.hr == DISP_E_TYPEMISMATCH || outcome.hr == DISP_E_OVERFLOW)
      outcome.error += " at argument " + std::to_string(args.size() - argError);
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return outcome;
}

std::string FormatVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return "(nothing)";
    case VT_NULL: return "Null";
    case VT_I2: return std::to_string(value.iVal);
    case VT_I4: case VT_INT: return std::to_string(value.lVal);
    case VT_UI4: return std::to_string(value.ulVal);
    case VT_R4: return std::to_string(value.fltVal);
    case VT_R8: {
      char text[32];
      std::snprintf(text, sizeof text, "%g", value.dblVal);
      return text;
    }
    case VT_BOOL: return value.boolVal ? "True" : "False";
    case VT_BSTR: return "\"" + Narrow(value.bstrVal, SysStringLen(value.bstrVal)) + "\"";
    case VT_ERROR: return "Error " + DescribeHresult(value.scode);
    case VT_DISPATCH: return "(object)";
    case VT_UNKNOWN: return "(object)";
    default: return "(variant of type " + std::to_string(value.vt) + ")";
  }
}

}  // namespace quibhost
