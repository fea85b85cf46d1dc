// The library as a client sees it: loaded through the platform loader, used
// through its exports and interfaces only.
#include <gtest/gtest.h>

#include "automation/contract.h"
#include "quib_test_support.h"

using quibtest::LoadedLibrary;
using quibtest::Ref;

TEST(LibraryClient, CreatesARecorderAndLetsTheLibraryUnloadAfterwards) {
  LoadedLibrary library;
  ASSERT_NE(library.module, nullptr);
  ASSERT_NE(library.getClassObject, nullptr);
  ASSERT_NE(library.canUnloadNow, nullptr);
  EXPECT_EQ(library.canUnloadNow(), S_OK);

  {
    Ref<IClassFactory> factory;
    ASSERT_EQ(library.getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);

    Ref<IquibVoiceRec> recorder;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IquibVoiceRec, recorder.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);  // the recorder holds the library

    Ref<IDispatch> dispatch;
    Ref<IConnectionPointContainer> container;
    Ref<IUnknown> a, b, c;
    ASSERT_EQ(recorder->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    ASSERT_EQ(recorder->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    ASSERT_EQ(recorder->QueryInterface(IID_IUnknown, a.put_void()), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, b.put_void()), S_OK);
    ASSERT_EQ(container->QueryInterface(IID_IUnknown, c.put_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(a.get(), c.get());
  }
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

TEST(LibraryClient, LoadsAreCountedByTheLoader) {
  LoadedLibrary first;
  LoadedLibrary second;
  ASSERT_NE(first.module, nullptr);
  EXPECT_EQ(first.module, second.module);
  Ref<IClassFactory> factory;
  ASSERT_EQ(second.getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, factory.put_void()), S_OK);
}
