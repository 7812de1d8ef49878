#include <windows.h>

#include <thread>

#include "platform/pipe.h"
#include "platform/win32_handle.h"
#include "tests/platform/raw_pipe_client.h"

namespace vn::test {
namespace {

constexpr DWORD kReadLimitMs = 5000;

}  // namespace

struct RawPipeClient::End {
  platform::Win32Handle pipe;
  platform::Win32Handle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

RawPipeClient::RawPipeClient(const std::string& name) : end(std::make_unique<End>()) {
  const std::wstring path = platform::PipePath(name).wstring();
  for (int attempt = 0; attempt < 100 && !end->pipe.Valid(); ++attempt) {
    end->pipe = platform::Win32Handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                                  nullptr));
    if (!end->pipe.Valid() && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeW(path.c_str(), 50);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (end->pipe.Valid()) SetNamedPipeHandleState(end->pipe.Get(), &mode, nullptr, nullptr);
}

RawPipeClient::~RawPipeClient() = default;

bool RawPipeClient::Connected() const { return end->pipe.Valid(); }

bool RawPipeClient::Send(const std::string& record) {
  OVERLAPPED io{};
  io.hEvent = end->event.Get();
  DWORD written = 0;
  if (!WriteFile(end->pipe.Get(), record.data(), static_cast<DWORD>(record.size()), nullptr, &io) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  if (WaitForSingleObject(end->event.Get(), kReadLimitMs) != WAIT_OBJECT_0) {
    CancelIoEx(end->pipe.Get(), &io);
    GetOverlappedResult(end->pipe.Get(), &io, &written, TRUE);
    return false;
  }
  return GetOverlappedResult(end->pipe.Get(), &io, &written, FALSE) && written == record.size();
}

std::optional<std::string> RawPipeClient::ReadToEnd() {
  std::string all;
  std::string buffer(65536, '\0');
  while (true) {
    OVERLAPPED io{};
    io.hEvent = end->event.Get();
    DWORD got = 0;
    if (!ReadFile(end->pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &io) &&
        GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) return all;
      return std::nullopt;
    }
    if (WaitForSingleObject(end->event.Get(), kReadLimitMs) != WAIT_OBJECT_0) {
      CancelIoEx(end->pipe.Get(), &io);
      GetOverlappedResult(end->pipe.Get(), &io, &got, TRUE);
      return std::nullopt;
    }
    const bool whole = GetOverlappedResult(end->pipe.Get(), &io, &got, FALSE);
    if (!whole) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) return all;
      if (error != ERROR_MORE_DATA) return std::nullopt;
    }
    all.append(buffer.data(), got);
    // The answer is one message; the server waits for us to close after it.
    if (whole) return all;
  }
}

}  // namespace vn::test
