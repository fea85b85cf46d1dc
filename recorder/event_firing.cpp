// OnMessage firing. Sinks may advise, unadvise or release the recorder from
// inside their event, so each sink is fetched afresh by index, held by a
// reference of the firing's own while it is called, and the walk is bounded
// by the capacity seen at the start. The firing holds a reference on the
// recorder for the walk, so that a sink that drops the last other reference
// does not free the list under it; the recorder then goes when the walk ends.
#include "recorder/event_firing.h"

#include "platform/automation.h"
#include "platform/heaps.h"

namespace {

constexpr UINT kArguments = 3;

// Arguments stand in reverse order: lParam, wParam, message.
void SetI4(VARIANTARG& argument, LONG value) {
  if (argument.vt != VT_I4) {
    VariantClear(&argument);  // a failure here is not reported
    argument.vt = VT_I4;
  }
  argument.lVal = value;
}

}  // namespace

void FireOnMessage(Recorder* recorder, UINT message, WPARAM wParam, LPARAM lParam) {
  VARIANT result;
  result.vt = VT_EMPTY;

  auto* arguments = static_cast<VARIANTARG*>(ObjectAlloc(kArguments * sizeof(VARIANTARG)));
  if (!arguments) return;  // no array to call any sink with
  for (UINT i = 0; i < kArguments; ++i) arguments[i].vt = VT_EMPTY;

  recorder->AddRef();
  SinkList& sinks = recorder->sinks;
  const LONG walk = sinks.capacity;  // sinks that make the list grow wait for the next firing
  for (LONG i = 0; i < walk; ++i) {
    IUnknown* sink = sinks.SinkAt(i);
    if (!sink) continue;
    // The stored pointer is the sink's event dispinterface: an IDispatch table.
    auto* events = static_cast<IDispatch*>(sink);
    events->AddRef();
    VariantClear(&result);
    SetI4(arguments[2], static_cast<LONG>(message));
    SetI4(arguments[1], static_cast<LONG>(wParam));
    SetI4(arguments[0], lParam);
    DISPPARAMS params;
    params.rgvarg = arguments;
    params.rgdispidNamedArgs = nullptr;
    params.cArgs = kArguments;
    params.cNamedArgs = 0;
    events->Invoke(kDispidOnMessage, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                   nullptr);
    events->Release();
  }

  for (UINT i = kArguments; i-- > 0;) VariantClear(&arguments[i]);
  ObjectFree(arguments);
  VariantClear(&result);
  recorder->Release();
}
