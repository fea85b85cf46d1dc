// The event connection as a client sees it: the library loaded through the
// platform loader, reached through its exports and interfaces only.
#include <gtest/gtest.h>

#include "automation/contract.h"
#include "quib_test_support.h"
#include "test_sink.h"

using quibtest::LoadedLibrary;
using quibtest::Ref;
using quibtest::TestSink;

namespace {

class EventsClientTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(library_.getClassObject, nullptr);
    ASSERT_EQ(library_.CreateInstance(CLSID_quibVoiceRec, IID_IquibVoiceRec, recorder_.put_void()), S_OK);
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(recorder_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IquibVoiceRecEvents, point_.put()), S_OK);
  }
  LoadedLibrary library_;
  Ref<IquibVoiceRec> recorder_;
  Ref<IConnectionPoint> point_;
};

TEST_F(EventsClientTest, ASinkIsConnectedListedAndDisconnected) {
  TestSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  {
    Ref<IEnumConnections> e;
    ASSERT_EQ(point_->EnumConnections(e.put()), S_OK);
    CONNECTDATA r{};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(1, &r, &fetched), S_OK);
    EXPECT_EQ(r.pUnk, static_cast<IUnknown*>(&sink));
    EXPECT_EQ(r.dwCookie, cookie);
    r.pUnk->Release();
  }
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(sink.refs, 1u);
}

TEST_F(EventsClientTest, EnumeratorsHoldTheLibraryAndTheRecorderOnlyWhileTheyLive) {
  TestSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
  Ref<IEnumConnections> connections;
  ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
  Ref<IEnumConnectionPoints> points;
  {
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(point_->GetConnectionPointContainer(container.put()), S_OK);
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  }
  point_.reset();
  recorder_.reset();
  EXPECT_EQ(library_.canUnloadNow(), S_FALSE);
  EXPECT_EQ(sink.refs, 3u) << "the recorder's list and the snapshot";
  points.reset();  // the recorder goes with the last of its references
  EXPECT_EQ(sink.refs, 2u);
  EXPECT_EQ(library_.canUnloadNow(), S_FALSE);
  connections.reset();
  EXPECT_EQ(sink.refs, 1u);
  EXPECT_EQ(library_.canUnloadNow(), S_OK);
}

TEST_F(EventsClientTest, TheLastReleaseOfTheRecorderReleasesItsSinks) {
  TestSink a, b, c;
  DWORD cookie = 0;
  for (TestSink* s : {&a, &b, &c, &a}) ASSERT_EQ(point_->Advise(s, &cookie), S_OK);
  point_.reset();
  recorder_.reset();
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 1u);
  EXPECT_EQ(c.refs, 1u);
  EXPECT_EQ(library_.canUnloadNow(), S_OK);
}

}  // namespace
