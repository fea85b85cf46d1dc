// The recorder object: the instance of class quibVoiceRec, with its three
// faces (container, dual, connection point) at fixed distances from its start.
#pragma once

#include "automation/contract.h"
#include "events/sink_list.h"
#include "module/interface_table.h"

// Storage for one face: the face's operation table pointer, nothing else.
struct FaceSlot {
  void* table;
};

struct Recorder {
  FaceSlot container;        // IConnectionPointContainer
  FaceSlot dual;             // IquibVoiceRec and IDispatch; the object's identity
  FaceSlot connectionPoint;  // IConnectionPoint
  SinkList sinks;
  union {
    ULONG refCount;          // plain object: plain counter, not atomic
    IUnknown* outer;         // inside an AggregatedRecorder: the outer object
  };
  HWND controlWindow;        // the live voice recorder control, or 0
  BOOL hooked;               // this object has installed the ControlHook

  // The hook this object keeps while `hooked` is set (ControlHook): the window
  // whose procedure slot it took, the procedure it took out, and the next
  // recorder holding a hook.
  struct HookRecord {
    HWND window;
    std::intptr_t savedProcedure;
    Recorder* next;
  } hook;

  IConnectionPointContainer* Container();
  IquibVoiceRec* Dual();
  IConnectionPoint* ConnectionPoint();

  // The recorder a face belongs to.
  static Recorder* FromContainer(IConnectionPointContainer* face);
  static Recorder* FromDual(IquibVoiceRec* face);
  static Recorder* FromConnectionPoint(IConnectionPoint* face);

  // QueryInterface, AddRef and Release of the object, through whichever
  // IUnknown its faces use (its own, or the delegating one when aggregated).
  HRESULT QueryInterface(REFIID iid, void** out);
  ULONG AddRef();
  ULONG Release();
};

extern const InterfaceTableRow kRecorderInterfaceTable[];

// The recorder class's instance creator (ObjectMapEntry): plain without an
// outer object, aggregated with one.
HRESULT CreateRecorderInstance(IUnknown* outer, REFIID iid, void** out);

// Teardown steps that follow the count and lock-count steps: discard a live
// control, remove a hook still recorded, release every sink.
void RecorderReleaseResources(Recorder* recorder);
