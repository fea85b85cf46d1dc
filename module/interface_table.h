// Table-driven interface lookup shared by every object of the library.
#pragma once

#include <cstdint>

#include "platform/objectmodel.h"

// A function row's routine: (object, IID, out, the row's word).
using InterfaceTableFunction = HRESULT (*)(void* object, REFIID iid, void** out, DWORD word);

// kind: 0 ends the table, 1 is an offset row, any other value is a function
// row whose kind is the routine itself (hence pointer-wide).
struct InterfaceTableRow {
  const IID* iid;      // the interface answered; null matches every request
  DWORD offset;        // offset row: distance of the interface from the object's start
  std::uintptr_t kind;
};

constexpr std::uintptr_t kInterfaceTableEnd = 0;
constexpr std::uintptr_t kInterfaceTableOffset = 1;

// Answers iid from the table for the object at `object`. The first row is the
// object's identity and always answers IID_IUnknown.
HRESULT InterfaceTableQuery(void* object, const InterfaceTableRow* table, REFIID iid, void** out);

// Stores `value` into `*slot`: AddRefs the new pointer, then releases the old.
IUnknown* AssignInterface(IUnknown** slot, IUnknown* value);
