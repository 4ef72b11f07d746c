// A host for one test: it connects a sink to an UpdateCheck that the test
// passes it, says so, and waits to be killed with the sink still connected.
//   qel_com_sink_host <marshalled object as hex> <inherited event handle>

#include <windows.h>

#include <objbase.h>

#include <cwchar>
#include <string>

#include "tests/com/com_test_support.h"

int wmain(int argc, wchar_t** argv) {
  using namespace qel::test;
  if (argc != 3) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  const std::wstring hex = argv[1];
  const auto ready =
      reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(argv[2], nullptr, 10)));

  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return 4;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const unsigned char byte =
        static_cast<unsigned char>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16));
    stream->Write(&byte, 1, nullptr);
  }
  const LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ComPtr<IUnknown> object;
  if (FAILED(CoUnmarshalInterface(stream.Get(), IID__UpdateCheck, object.PutVoid()))) return 5;

  // Only the sink stays: the host lets go of the object, so that its death
  // leaves no reference behind in the server (Wine never takes such
  // references back).
  const auto sink = EventSink::Create();
  {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(object.As(container)) ||
        FAILED(container->FindConnectionPoint(DIID___UpdateCheck, point.Put())) ||
        FAILED(point->Advise(sink.Get(), &cookie))) {
      return 6;
    }
  }
  object.Reset();
  SetEvent(ready);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
