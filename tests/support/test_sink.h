// An event sink for tests: a dispatch object that counts its references,
// records every Invoke and can run an action from inside its event.
#pragma once

#include <functional>
#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"

namespace quibtest {

struct InvokeCall {
  DISPID member;
  IID iid;
  LCID locale;
  WORD flags;
  UINT argCount;
  UINT namedCount;
  bool namedArgsNull;
  bool resultGiven;
  VARTYPE resultTypeOnEntry;
  bool exceptionNull;
  bool argErrorNull;
  std::vector<VARTYPE> types;
  std::vector<LONG> values;
};

// Lives on the test's stack: the test holds the first reference, and the
// sink is never freed by Release, so a count that ends above 1 is a leak and
// one that falls below 1 a reference released too often.
class TestSink final : public IDispatch {
 public:
  enum class Answer { Events, Refuse, Fail, NullSuccess };

  Answer answer = Answer::Events;      // how QueryInterface answers the event IID
  HRESULT invokeResult = S_OK;
  std::function<void(TestSink&, DISPPARAMS*)> during;  // runs inside Invoke
  std::vector<InvokeCall> calls;
  ULONG refs = 1;
  ULONG addRefs = 0;
  ULONG releases = 0;
  ULONG queries = 0;
  std::vector<int>* order = nullptr;     // appends `id` on each Invoke when set
  std::vector<int>* released = nullptr;  // appends `id` on each Release when set
  VARIANT* result = nullptr;             // the current call's result, for `during`
  int id = 0;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    ++queries;
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualGUID(iid, DIID__IquibVoiceRecEvents)) {
      switch (answer) {
        case Answer::Events: break;
        case Answer::Refuse: return E_NOINTERFACE;
        case Answer::Fail: return E_FAIL;
        case Answer::NullSuccess: return S_OK;
      }
    } else if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IDispatch)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    ++addRefs;
    return ++refs;
  }
  ULONG Release() override {
    ++releases;
    if (released) released->push_back(id);
    return --refs;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override {
    InvokeCall call{member,  iid, locale, flags, params->cArgs, params->cNamedArgs, params->rgdispidNamedArgs == nullptr,
                    result != nullptr, result ? result->vt : VARTYPE{VT_EMPTY}, exception == nullptr, argError == nullptr,
                    {}, {}};
    for (UINT i = 0; i < params->cArgs; ++i) {
      call.types.push_back(params->rgvarg[i].vt);
      call.values.push_back(params->rgvarg[i].lVal);
    }
    calls.push_back(call);
    if (order) order->push_back(id);
    this->result = result;
    if (during) during(*this, params);
    this->result = nullptr;
    return invokeResult;
  }
};

}  // namespace quibtest
