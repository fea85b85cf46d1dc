// The connection enumerators: one generic enumerator over a contiguous array
// of elements, instantiated for connection points and for connection records.
//
// An enumerator either owns its array (AdoptMode, CopyMode) or shares one
// that its `owner` keeps alive (ShareMode). Every live enumerator holds the
// module's lock count up by one. The reference count is atomic; the position
// is not guarded (one enumerator serves one thread at a time).
#pragma once

#include <new>

#include "module/interface_table.h"
#include "module/module_state.h"
#include "platform/heaps.h"
#include "platform/sync.h"

enum EnumeratorMode : DWORD {
  ShareMode = 0,  // the caller's array in place; no element references
  AdoptMode = 2,  // the caller's object-allocator array and its references
  CopyMode = 3,   // a copy of the caller's elements, one reference each
};
constexpr DWORD kEnumeratorOwnsArray = 2;

// Element kinds. Each gives the interface, its IID, and how an element is
// copied (taking a reference) and dropped (releasing it).
struct ConnectionPointElements {
  using Interface = IEnumConnectionPoints;
  using Element = IConnectionPoint*;
  static constexpr const IID& kIid = IID_IEnumConnectionPoints;
  static void Copy(Element* to, const Element& from) {
    *to = from;
    if (from) from->AddRef();
  }
  static void Drop(Element& element) {
    if (element) element->Release();
  }
};

struct ConnectionElements {
  using Interface = IEnumConnections;
  using Element = CONNECTDATA;
  static constexpr const IID& kIid = IID_IEnumConnections;
  static void Copy(Element* to, const Element& from) {
    *to = from;
    if (from.pUnk) from.pUnk->AddRef();
  }
  static void Drop(Element& element) {
    if (element.pUnk) element.pUnk->Release();
  }
};

template <class Kind>
class Enumerator final : public Kind::Interface {
 public:
  using Interface = typename Kind::Interface;
  using Element = typename Kind::Element;

  // A new enumerator with count 0 and no array; raises the module's lock count.
  static HRESULT CreateEnumerator(Enumerator** out) {
    void* memory = ObjectAlloc(sizeof(Enumerator));
    if (!memory) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    *out = new (memory) Enumerator;
    return S_OK;
  }

  HRESULT InitData(Element* first, Element* last, IUnknown* owner, DWORD mode) {
    if (mode == CopyMode) {
      std::size_t count = static_cast<std::size_t>(last - first);
      auto* array = static_cast<Element*>(ObjectAlloc(count * sizeof(Element)));
      if (!array) return E_OUTOFMEMORY;
      begin_ = position_ = array;
      for (Element* from = first; from != last; ++from) Kind::Copy(array++, *from);
      end_ = array;
    } else {
      begin_ = first;
      end_ = last;
    }
    AssignInterface(&owner_, owner);
    mode_ = mode;
    position_ = begin_;
    return S_OK;
  }

  void SetPosition(Element* position) { position_ = position; }

  // Destroys and frees the enumerator; run at the last Release, or by a maker
  // that fails before handing it out.
  void Destroy() {
    refCount_ = 1;
    g_moduleState.Unlock();
    if (mode_ & kEnumeratorOwnsArray) {
      for (Element* e = begin_; e != end_; ++e) Kind::Drop(*e);
      ObjectFree(begin_);
    }
    if (owner_) owner_->Release();
    this->~Enumerator();
    ObjectFree(this);
  }

  // The enumerator's interface, through its InterfaceTable.
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return InterfaceTableQuery(static_cast<Interface*>(this), kTable, iid, out);
  }
  ULONG AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  ULONG Release() override {
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) Destroy();
    return static_cast<ULONG>(count);
  }

  HRESULT Next(ULONG count, Element* out, ULONG* fetched) override {
    if (!out || (!fetched && count != 1)) return E_POINTER;
    if (!begin_ || !end_ || !position_) return E_FAIL;
    ULONG remaining = static_cast<ULONG>(end_ - position_);
    ULONG n = count < remaining ? count : remaining;
    if (fetched) *fetched = n;
    for (ULONG i = 0; i < n; ++i) Kind::Copy(out++, *position_++);
    return count > remaining ? S_FALSE : S_OK;
  }

  HRESULT Skip(ULONG count) override {
    ULONG remaining = static_cast<ULONG>(end_ - position_);
    if (count <= remaining) {
      position_ += count;
      return S_OK;
    }
    position_ = end_;
    return S_FALSE;
  }

  HRESULT Reset() override {
    position_ = begin_;
    return S_OK;
  }

  HRESULT Clone(Interface** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Enumerator* clone = nullptr;
    HRESULT hr = CreateEnumerator(&clone);
    if (FAILED(hr)) return hr;
    IUnknown* owner = (mode_ & kEnumeratorOwnsArray) ? static_cast<IUnknown*>(this) : owner_;
    clone->InitData(begin_, end_, owner, ShareMode);
    clone->position_ = position_;
    hr = InterfaceTableQuery(static_cast<Interface*>(clone), kTable, Kind::kIid, reinterpret_cast<void**>(out));
    if (FAILED(hr)) clone->Destroy();
    return hr;
  }

  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;

 private:
  Enumerator() { g_moduleState.Lock(); }
  ~Enumerator() = default;

  static constexpr InterfaceTableRow kTable[] = {
      {&Kind::kIid, 0, kInterfaceTableOffset},
      {nullptr, 0, kInterfaceTableEnd},
  };

  IUnknown* owner_ = nullptr;  // keeps a shared array valid; one reference
  Element* begin_ = nullptr;
  Element* end_ = nullptr;
  Element* position_ = nullptr;  // begin_ <= position_ <= end_
  DWORD mode_ = ShareMode;       // bit 1: the array is owned
  LONG refCount_ = 0;            // atomic increment and decrement only
};

using ConnectionPointEnumerator = Enumerator<ConnectionPointElements>;
using ConnectionEnumerator = Enumerator<ConnectionElements>;
