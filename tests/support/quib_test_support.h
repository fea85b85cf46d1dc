// Shared test helpers: wide strings, and loading the built library through
// the platform loader as a client does.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/loader.h"
#include "platform/objectmodel.h"

namespace quibtest {

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The library's exports, found by name through the loader.
struct LoadedLibrary {
  using CanUnloadNow = HRESULT (*)();
  using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);

  HMODULE module = nullptr;
  CanUnloadNow canUnloadNow = nullptr;
  GetClassObject getClassObject = nullptr;

  explicit LoadedLibrary(const std::string& path = QUIB_LIBRARY_PATH) {
    module = LoadLibraryW(Wide(path).c_str());
    if (!module) return;
    canUnloadNow = reinterpret_cast<CanUnloadNow>(GetProcAddressW(module, u"DllCanUnloadNow"));
    getClassObject = reinterpret_cast<GetClassObject>(GetProcAddressW(module, u"DllGetClassObject"));
  }
  ~LoadedLibrary() {
    if (module) FreeLibrary(module);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // A new instance of clsid made through its class object, as a client makes one.
  HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** out) const {
    *out = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
  }

  template <class T = void>
  T* Proc(const char16_t* name) const {
    return reinterpret_cast<T*>(GetProcAddressW(module, name));
  }
};

// Releases an interface pointer at the end of a scope.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// The reference count an object reports, without changing it.
inline ULONG RefCountOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace quibtest
