// The event machinery around UpdateCheck: its connection point, its
// enumerators, and what happens to sinks that fail or whose host is gone.

#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/unique_handle.h"
#include "server/process/event_couriers.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace qel::test {
namespace {

using com::Bstr;
using com::UniqueHandle;

// An object that is no kind of event sink.
class PlainObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

ComPtr<IUnknown> IdentityOf(IUnknown* object) {
  ComPtr<IUnknown> identity;
  object->QueryInterface(IID_IUnknown, identity.PutVoid());
  return identity;
}

std::vector<DWORD> ConnectionCookies(IConnectionPoint* point) {
  std::vector<DWORD> cookies;
  ComPtr<IEnumConnections> connections;
  if (FAILED(point->EnumConnections(connections.Put()))) return cookies;
  // Read by what arrives: across processes, Wine's proxy for this
  // enumerator returns a garbled count and now and then a garbled result
  // code, while the connections themselves come through intact.
  for (int i = 0; i < 64; ++i) {
    CONNECTDATA data{};
    ULONG fetched = 0;
    connections->Next(1, &data, &fetched);
    if (!data.pUnk) break;
    cookies.push_back(data.dwCookie);
    data.pUnk->Release();
  }
  return cookies;
}

class ConnectionPointCom : public ::testing::Test {
 protected:
  void SetUp() override {
    m_object = CreateUpdateCheck();
    ASSERT_TRUE(m_object);
    m_web.Put("/events.txt", VersionFile(m_web.Url("/events.txt")));
  }

  HRESULT StartCheck() {
    const Bstr url(m_web.UrlText("/events.txt"));
    return m_object->StartCheck(url.Get());
  }

  LoopbackServer m_web;
  ComPtr<_UpdateCheck> m_object;
};

TEST_F(ConnectionPointCom, HostsFindTheEventInterfaceEveryWayTheyLook) {
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(m_object.As(container), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID___UpdateCheck, point.Put()), S_OK);
  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, none.Put()), CONNECT_E_NOCONNECTION);

  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID___UpdateCheck));
  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
  EXPECT_EQ(IdentityOf(back.Get()).Get(), IdentityOf(m_object.Get()).Get());

  // The container's enumerator: one connection point, walked every way.
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
  IConnectionPoint* fetched[2] = {};
  ULONG count = 0;
  EXPECT_EQ(points->Next(2, fetched, &count), S_FALSE);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(IdentityOf(fetched[0]).Get(), IdentityOf(point.Get()).Get());
  fetched[0]->Release();
  EXPECT_EQ(points->Next(1, fetched, &count), S_FALSE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(points->Reset(), S_OK);
  ComPtr<IEnumConnectionPoints> clone;
  ASSERT_EQ(points->Clone(clone.Put()), S_OK);
  EXPECT_EQ(points->Skip(1), S_OK);
  EXPECT_EQ(points->Skip(1), S_FALSE);
  EXPECT_EQ(clone->Next(1, fetched, &count), S_OK);
  ASSERT_EQ(count, 1u);
  fetched[0]->Release();

  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(m_object.As(classInfo), S_OK);
  GUID source{};
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, DIID___UpdateCheck));
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &source), E_INVALIDARG);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(classInfo->GetClassInfo(info.Put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_UpdateCheck));
  info->ReleaseTypeAttr(attr);

  ComPtr<ISupportErrorInfo> errorInfo;
  ASSERT_EQ(m_object.As(errorInfo), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID__UpdateCheck), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IConnectionPointContainer), S_FALSE);
}

TEST_F(ConnectionPointCom, ConnectionsAreCountedAndCookiesNeverReused) {
  const auto eventSink = EventSink::Create();
  const auto dispatchOnlySink = EventSink::Create(EventSink::Options::DispatchOnly());
  const auto firstSink = EventSink::Create();
  Advised first(m_object.Get(), firstSink.Get());
  ASSERT_EQ(first.Result(), S_OK);
  IConnectionPoint* point = first.Point();
  const DWORD firstCookie = first.Cookie();
  ASSERT_EQ(point->Unadvise(firstCookie), S_OK);
  EXPECT_EQ(point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);

  const Advised byEventInterface(m_object.Get(), eventSink.Get());
  const Advised byDispatch(m_object.Get(), dispatchOnlySink.Get());
  ASSERT_EQ(byEventInterface.Result(), S_OK);
  ASSERT_EQ(byDispatch.Result(), S_OK);
  const std::set<DWORD> cookies = {firstCookie, byEventInterface.Cookie(), byDispatch.Cookie()};
  EXPECT_EQ(cookies.size(), 3u);
  EXPECT_EQ(ConnectionCookies(point),
            (std::vector<DWORD>{byEventInterface.Cookie(), byDispatch.Cookie()}));

  const ComPtr<IUnknown> plain = ComPtr<IUnknown>::Attach(new PlainObject);
  DWORD cookie = 1;
  EXPECT_EQ(point->Advise(plain.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);

  // A sink that is only an IDispatch hears the event as well.
  ASSERT_EQ(StartCheck(), S_OK);
  ASSERT_TRUE(PumpUntil(
      [&] { return !eventSink->Events().empty() && !dispatchOnlySink->Events().empty(); }));
  EXPECT_EQ(eventSink->Events()[0].number, 0);
  EXPECT_EQ(dispatchOnlySink->Events()[0].number, 0);
  EXPECT_TRUE(firstSink->Events().empty());
}

TEST_F(ConnectionPointCom, AFailingSinkDoesNotStopTheOthers) {
  for (const HRESULT failure : {E_FAIL, DISP_E_EXCEPTION}) {
    SCOPED_TRACE(failure);
    // Connected first, so called first.
    const auto failing = EventSink::Create(EventSink::Options::Failing(failure));
    const auto working = EventSink::Create();
    const Advised failingAdvised(m_object.Get(), failing.Get());
    const Advised workingAdvised(m_object.Get(), working.Get());
    ASSERT_EQ(StartCheck(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !working->Events().empty(); }));
    // Nothing of the failure went back into the check: no second event.
    PumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(failing->Events().size(), 1u);
    ASSERT_EQ(working->Events().size(), 1u);
    EXPECT_EQ(working->Events()[0].number, 0);
    // A failing sink whose host is alive stays connected.
    EXPECT_EQ(ConnectionCookies(failingAdvised.Point()).size(), 2u);
  }
}

TEST_F(ConnectionPointCom, AHostThatTurnsItsEventAwayWhileBusyGetsItOnceAfter) {
  // As Office does while a cell is edited: the host's message filter refuses
  // the event call for a fixed time, then takes it.
  constexpr auto kBusy = std::chrono::seconds(2);
  const auto sink = EventSink::Create();
  const Advised advised(m_object.Get(), sink.Get());
  ASSERT_EQ(advised.Result(), S_OK);
  BusyHost host;
  host.BusyFor(kBusy);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(StartCheck(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }, kBusy + kEventTimeout));
  const auto waited = std::chrono::steady_clock::now() - started;
  PumpFor(std::chrono::milliseconds(300));
  std::printf(
      "a host busy for %lld ms turned its event away %zu times, then got it after %lld ms\n",
      static_cast<long long>(std::chrono::milliseconds(kBusy).count()), host.Refusals(),
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
  ASSERT_EQ(sink->Events().size(), 1u);
  EXPECT_EQ(sink->Events()[0].number, 0);
  EXPECT_GE(host.Refusals(), 2u);
  EXPECT_GE(waited, kBusy);
  // Tried again within the longest pause of its end, and still connected.
  EXPECT_LT(waited, kBusy + com::EventCouriers::kLongestPause + std::chrono::milliseconds(500));
  EXPECT_EQ(ConnectionCookies(advised.Point()), std::vector<DWORD>{advised.Cookie()});
}

// The object marshalled for another process on this machine, as hex text.
std::wstring MarshalForAnotherProcess(IUnknown* object) {
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return {};
  if (FAILED(CoMarshalInterface(stream.Get(), IID__UpdateCheck, object, MSHCTX_LOCAL, nullptr,
                                MSHLFLAGS_NORMAL))) {
    return {};
  }
  HGLOBAL memory = nullptr;
  GetHGlobalFromStream(stream.Get(), &memory);
  ULARGE_INTEGER size{};
  const LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_CUR, &size);
  const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
  std::wstring hex;
  for (ULONGLONG i = 0; i < size.QuadPart; ++i) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  GlobalUnlock(memory);
  return hex;
}

TEST_F(ConnectionPointCom, ASinkWhoseHostIsGoneIsDisconnected) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const UniqueHandle ready(CreateEventW(&inherit, TRUE, FALSE, nullptr));
  ASSERT_TRUE(ready);
  const std::wstring hex = MarshalForAnotherProcess(m_object.Get());
  ASSERT_FALSE(hex.empty());

  // The host advises its own sink on this object, then is killed.
  const std::wstring host = SiblingPath(L"qel_com_sink_host.exe");
  std::wstring commandLine = L"\"" + host + L"\" " + hex + L" " +
                             std::to_wstring(reinterpret_cast<uintptr_t>(ready.Get()));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(host.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &process));
  const ChildProcess hostProcess(process);
  const HANDLE waits[] = {ready.Get(), hostProcess.Get()};
  DWORD index = 0;
  ASSERT_EQ(CoWaitForMultipleHandles(0, 10000, 2, const_cast<HANDLE*>(waits), &index), S_OK);
  ASSERT_EQ(index, 0u) << "the sink host ended before it had advised";

  const auto sink = EventSink::Create();
  const Advised advised(m_object.Get(), sink.Get());
  ASSERT_EQ(ConnectionCookies(advised.Point()).size(), 2u);
  ASSERT_TRUE(TerminateProcess(hostProcess.Get(), 1));
  ASSERT_EQ(WaitForSingleObject(hostProcess.Get(), 10000), WAIT_OBJECT_0);

  // The host's sink is called first, fails for good, and is let go; the
  // delivery goes on to the sink that is still there.
  ASSERT_EQ(StartCheck(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
  EXPECT_EQ(sink->Events()[0].number, 0);
  EXPECT_EQ(ConnectionCookies(advised.Point()), std::vector<DWORD>{advised.Cookie()});

  ASSERT_EQ(StartCheck(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink->Events().size() == 2; }));
}

TEST_F(ConnectionPointCom, TheServerLetsGoOfASinkWhenItsConnectionEnds) {
  // Held by the server through a proxy, a sink whose connection ends must be
  // released, or every host's sink would live as long as the server.
  struct Case {
    const char* name;
    bool releaseObject;  // the object goes instead of the connection
  };
  for (const Case& c : {Case{"unadvised", false}, Case{"object released", true}}) {
    SCOPED_TRACE(c.name);
    ComPtr<_UpdateCheck> object = CreateUpdateCheck();
    ASSERT_TRUE(object);
    const auto sink = EventSink::Create();
    const Bstr url(m_web.UrlText("/events.txt"));
    {
      const ComPtr<IConnectionPoint> point = FindEventPoint(object.Get());
      ASSERT_TRUE(point);
      DWORD cookie = 0;
      ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
      ASSERT_EQ(object->StartCheck(url.Get()), S_OK);
      ASSERT_TRUE(PumpUntil([&] { return !sink->Events().empty(); }));
      EXPECT_GT(sink->References(), 1u);
      if (!c.releaseObject) {
        ASSERT_EQ(point->Unadvise(cookie), S_OK);
      }
    }
    if (c.releaseObject) object.Reset();
    EXPECT_TRUE(PumpUntil([&] { return sink->References() == 1; }))
        << sink->References() << " references left";
  }
}

}  // namespace
}  // namespace qel::test
