// An event sink for _IquibVoiceRecEvents that prints each OnMessage it
// receives, with the voice recorder control's notification decoded.
#pragma once

#include <cstdio>

#include "platform/automation.h"

namespace quibhost {

class EventSink final : public IDispatch {
 public:
  explicit EventSink(const IID& eventInterface, std::FILE* out) : eventInterface_(eventInterface), out_(out) {}
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++count_; }
  ULONG Release() override { return --count_; }  // lives on the caller's stack
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override;

  int events() const { return events_; }
  ULONG references() const { return count_; }

 private:
  IID eventInterface_;
  std::FILE* out_;
  ULONG count_ = 1;
  int events_ = 0;
};

// The voice recorder control's notification code in words.
const char* DescribeNotification(LONG code);

}  // namespace quibhost
