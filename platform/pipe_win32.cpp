// Named-pipe backend of the local request channel (Windows).
//
// The pipe \\.\pipe\<name> is duplex, message type and message read mode, with
// 8192-byte buffers both ways and a 250 ms default time-out; the server keeps
// one instance at a time. A request is one message of 1 to 8191 bytes, read
// into a buffer that asks for 8191: a longer message fails with
// ERROR_MORE_DATA and gets no answer. The response is one message written
// with one write; the server then waits (bounded) for the client to finish
// reading (a client closes once a read completed the message) before it
// disconnects, and the next instance is made. Every wait on a client is overlapped and bounded by clientWait, and
// Stop wakes the thread at once, so no client can hold the server or its owner.

#include <windows.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/text_wide.h"
#include "platform/win32_handle.h"

namespace vn::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const wchar_t* kPipePrefix = L"\\\\.\\pipe\\";
constexpr DWORD kPipeBufferBytes = 8192;
constexpr DWORD kDefaultPipeTimeoutMs = 250;
constexpr DWORD kUnlimitedInstances = PIPE_UNLIMITED_INSTANCES;
// A failed instance creation is retried after this pause.
constexpr std::chrono::milliseconds kCreateRetryPause{250};
// Between one instance's close and the next one's creation a client sees "no
// such pipe" for a moment; it retries that long before it gives up, and
// longer once it has seen the server busy (a loaded machine is slow to make
// the next instance).
constexpr std::chrono::milliseconds kBetweenInstancesGrace{200};
constexpr std::chrono::milliseconds kAfterBusyGrace{2000};
constexpr std::chrono::milliseconds kClientRetryPause{10};

DWORD Milliseconds(std::chrono::milliseconds value) {
  return static_cast<DWORD>(std::clamp<long long>(value.count(), 0, INFINITE - 1));
}

DWORD MillisecondsUntil(Clock::time_point deadline) {
  return Milliseconds(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
}

std::wstring WidePipeName(const std::string& name) { return kPipePrefix + Utf8ToWide(name); }

std::string AlreadyRunning(const std::wstring& pipe) {
  return "A service is already running on " + WideToUtf8(pipe);
}

void CheckPipeName(const std::string& name) {
  // A pipe name may hold any character but a backslash; a slash or a zero
  // byte in ours would be a caller's mistake.
  constexpr std::string_view kRefused("\\/\0", 3);
  if (name.empty() || name.size() > 200 || name.find_first_of(kRefused) != std::string::npos) {
    throw std::runtime_error("Invalid pipe name: " + name);
  }
}

// One overlapped operation on a handle: its event and OVERLAPPED.
class PendingIo {
 public:
  PendingIo() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!event.Valid()) throw std::runtime_error("Cannot create a pipe event");
  }
  OVERLAPPED* Reset() {
    overlapped = OVERLAPPED{};
    ResetEvent(event.Get());
    overlapped.hEvent = event.Get();
    return &overlapped;
  }

  enum class Outcome { kDone, kFailed, kTimedOut, kStopped };
  struct Result {
    Outcome outcome = Outcome::kFailed;
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
  };

  // Finishes an operation that was started with Reset(); started is its
  // return value. Waits at most timeout, and returns kStopped when stop (may be
  // null) is signalled first. An unfinished operation is cancelled and its
  // end awaited, so the buffer it used may be reused at once.
  Result Finish(HANDLE handle, BOOL started, HANDLE stop, DWORD timeout) {
    Result result;
    if (!started) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        result.error = error;
        result.outcome = Outcome::kFailed;
        // ERROR_MORE_DATA still delivered a full buffer.
        if (error == ERROR_MORE_DATA) GetOverlappedResult(handle, &overlapped, &result.bytes, FALSE);
        return result;
      }
      HANDLE waits[2] = {event.Get(), stop};
      const DWORD woke = WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, timeout);
      if (woke != WAIT_OBJECT_0) {
        CancelIoEx(handle, &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
        result.outcome = woke == WAIT_OBJECT_0 + 1 ? Outcome::kStopped : Outcome::kTimedOut;
        return result;
      }
    }
    if (GetOverlappedResult(handle, &overlapped, &result.bytes, FALSE)) {
      result.outcome = Outcome::kDone;
    } else {
      result.error = GetLastError();
      result.outcome = Outcome::kFailed;
    }
    return result;
  }

 private:
  Win32Handle event;
  OVERLAPPED overlapped{};
};

using Outcome = PendingIo::Outcome;

// The end of an answer: the server disconnected (109 on Windows, 233 under
// Wine) after the client read everything.
bool IsEndOfStream(DWORD error) {
  return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
         error == ERROR_NO_DATA;
}

// Opens the client end, waiting for a busy server until the deadline.
Win32Handle OpenClientEnd(const std::wstring& pipe, Clock::time_point deadline) {
  auto graceEnd = std::min(deadline, Clock::now() + kBetweenInstancesGrace);
  while (true) {
    Win32Handle handle(CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (handle.Valid()) return handle;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_BUSY) {
      if (Clock::now() >= deadline) return {};
      // A busy server makes its next instance soon after the current client.
      graceEnd = std::min(deadline, Clock::now() + kAfterBusyGrace);
      // The wait is bounded by what is left; it returns when an instance frees.
      WaitNamedPipeW(pipe.c_str(), std::max<DWORD>(1, MillisecondsUntil(deadline)));
      continue;
    }
    if (error != ERROR_FILE_NOT_FOUND || Clock::now() >= graceEnd) return {};
    std::this_thread::sleep_for(kClientRetryPause);
  }
}

Win32Handle CreateInstance(const std::wstring& pipe, bool first) {
  const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                         (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return Win32Handle(CreateNamedPipeW(
      pipe.c_str(), openMode,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      kUnlimitedInstances, kPipeBufferBytes, kPipeBufferBytes, kDefaultPipeTimeoutMs, nullptr));
}

}  // namespace

std::filesystem::path RuntimeFolder() { return std::filesystem::path(kPipePrefix); }

std::filesystem::path PipePath(const std::string& name) {
  CheckPipeName(name);
  return std::filesystem::path(WidePipeName(name));
}

std::optional<std::string> SendPipeRequest(const std::string& name, const std::string& request,
                                           std::size_t maxResponseBytes,
                                           std::chrono::milliseconds timeout) {
  try {
    CheckPipeName(name);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (request.size() > UINT_MAX) return std::string();
  const auto deadline = Clock::now() + timeout;
  const Win32Handle pipe = OpenClientEnd(WidePipeName(name), deadline);
  if (!pipe.Valid()) return std::nullopt;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr);

  PendingIo io;
  const DWORD waitMs = Milliseconds(timeout);
  const BOOL wrote = WriteFile(pipe.Get(), request.data(), static_cast<DWORD>(request.size()),
                               nullptr, io.Reset());
  const auto written = io.Finish(pipe.Get(), wrote, nullptr, waitMs);
  if (written.outcome != Outcome::kDone || written.bytes != request.size()) return std::string();

  std::string response;
  std::vector<char> buffer(kMaxResponseRecordBytes);
  while (response.size() < maxResponseBytes) {
    const BOOL read = ReadFile(pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                               nullptr, io.Reset());
    const auto got = io.Finish(pipe.Get(), read, nullptr, waitMs);
    if (got.outcome == Outcome::kFailed && IsEndOfStream(got.error)) return response;
    const bool partOfMessage = got.outcome == Outcome::kFailed && got.error == ERROR_MORE_DATA;
    if (got.outcome != Outcome::kDone && !partOfMessage) return std::string();
    response.append(buffer.data(),
                    std::min<std::size_t>(got.bytes, maxResponseBytes - response.size()));
    // The answer is one message: a read that ends it ends the answer. Closing
    // now is what lets the server move on to the next client.
    if (got.outcome == Outcome::kDone) return response;
  }
  return response;
}

std::optional<int> PipeServerPid(const std::string& name, std::chrono::milliseconds timeout) {
  try {
    CheckPipeName(name);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  const Win32Handle pipe = OpenClientEnd(WidePipeName(name), Clock::now() + timeout);
  ULONG pid = 0;
  if (!pipe.Valid() || !GetNamedPipeServerProcessId(pipe.Get(), &pid)) return std::nullopt;
  return static_cast<int>(pid);
}

struct PipeListener::State {
  Handler handler;
  std::chrono::milliseconds clientWait{};
  std::wstring pipe;
  Win32Handle stopEvent;  // manual reset; signalled once by Stop
  Win32Handle instance;   // the first instance, made by the constructor
  std::thread thread;
  bool stopped = false;   // owner's thread only

  void Serve();
  // False when Stop was signalled meanwhile.
  bool ServeConnection(HANDLE instance, PendingIo& io, std::vector<char>& buffer);
  bool Stopping() const { return WaitForSingleObject(stopEvent.Get(), 0) != WAIT_TIMEOUT; }
};

void PipeListener::State::Serve() {
  PendingIo io;
  std::vector<char> buffer(kPipeBufferBytes, '\0');
  while (!Stopping()) {
    Win32Handle current = instance.Valid() ? std::move(instance) : CreateInstance(pipe, false);
    if (!current.Valid()) {
      WaitForSingleObject(stopEvent.Get(), Milliseconds(kCreateRetryPause));
      continue;
    }
    const BOOL connected = ConnectNamedPipe(current.Get(), io.Reset());
    PendingIo::Result waited;
    if (!connected && GetLastError() == ERROR_PIPE_CONNECTED) {
      waited.outcome = Outcome::kDone;  // the client came between creation and the wait
    } else {
      waited = io.Finish(current.Get(), connected, stopEvent.Get(), INFINITE);
    }
    if (waited.outcome == Outcome::kStopped) return;
    if (waited.outcome != Outcome::kDone) continue;
    const bool goOn = ServeConnection(current.Get(), io, buffer);
    DisconnectNamedPipe(current.Get());
    if (!goOn) return;
  }
}

bool PipeListener::State::ServeConnection(HANDLE current, PendingIo& io,
                                          std::vector<char>& buffer) {
  const DWORD waitMs = Milliseconds(clientWait);
  std::fill(buffer.begin(), buffer.end(), '\0');
  const BOOL read = ReadFile(current, buffer.data(), static_cast<DWORD>(kMaxRequestBytes), nullptr,
                             io.Reset());
  const auto got = io.Finish(current, read, stopEvent.Get(), waitMs);
  if (got.outcome == Outcome::kStopped) return false;
  // A failed read (ERROR_MORE_DATA included: more than 8191 bytes) and an
  // empty message get no answer.
  if (got.outcome != Outcome::kDone || got.bytes == 0) return true;

  std::string response;
  try {
    response = handler(std::string(buffer.data(), got.bytes));
  } catch (...) {
    return true;  // the server outlives any one request; this client gets no answer
  }
  if (response.size() > UINT_MAX) return true;
  const BOOL wrote = WriteFile(current, response.data(), static_cast<DWORD>(response.size()),
                               nullptr, io.Reset());
  const auto sent = io.Finish(current, wrote, stopEvent.Get(), waitMs);
  if (sent.outcome == Outcome::kStopped) return false;
  if (sent.outcome != Outcome::kDone) return true;
  // A bounded flush: the client closes its end once it has read the whole
  // answer, and the read below then ends. Disconnecting earlier would throw
  // away what it has not read yet.
  // Messages the client sent after its request are read and dropped meanwhile.
  const auto deadline = Clock::now() + clientWait;
  while (true) {
    const BOOL drained = ReadFile(current, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  nullptr, io.Reset());
    const auto rest = io.Finish(current, drained, stopEvent.Get(), MillisecondsUntil(deadline));
    if (rest.outcome == Outcome::kStopped) return false;
    const bool moreToDrop = rest.outcome == Outcome::kDone ||
                            (rest.outcome == Outcome::kFailed && rest.error == ERROR_MORE_DATA);
    if (!moreToDrop || Clock::now() >= deadline) return true;
  }
}

PipeListener::PipeListener(const std::string& name, Handler handler,
                           std::chrono::milliseconds clientWait)
    : state(std::make_unique<State>()) {
  CheckPipeName(name);
  state->handler = std::move(handler);
  state->clientWait = clientWait;
  state->pipe = WidePipeName(name);
  state->stopEvent = Win32Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->stopEvent.Valid()) throw std::runtime_error("Cannot create the service stop event");
  // A name that answers belongs to a running server (Wine does not enforce
  // FILE_FLAG_FIRST_PIPE_INSTANCE, so this is checked first); the probe is
  // served as an empty request. On Windows the flag then also settles a race
  // between two starting servers.
  const Win32Handle probe(CreateFileW(state->pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  if (probe.Valid() || GetLastError() == ERROR_PIPE_BUSY) {
    throw std::runtime_error(AlreadyRunning(state->pipe));
  }
  state->instance = CreateInstance(state->pipe, true);
  if (!state->instance.Valid()) {
    const DWORD error = GetLastError();
    const std::string path = WideToUtf8(state->pipe);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
      throw std::runtime_error(AlreadyRunning(state->pipe));
    }
    throw std::runtime_error("Cannot create the pipe " + path);
  }
}

PipeListener::~PipeListener() { Stop(); }

void PipeListener::Start() {
  if (state->stopped || state->thread.joinable()) return;
  State* serving = state.get();
  state->thread = std::thread([serving] { serving->Serve(); });
}

void PipeListener::Stop() {
  if (state->stopped) return;
  state->stopped = true;
  SetEvent(state->stopEvent.Get());
  if (state->thread.joinable()) state->thread.join();
  state->instance.Reset();
}

}  // namespace vn::platform
