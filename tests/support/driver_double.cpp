#include "support/driver_double.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "device_calls.h"

DriverDouble driverDouble;

namespace {

// The event of an overlapped record (its low-order bit may be set).
HANDLE EventOf(const OVERLAPPED* record) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(record->hEvent) &
                                    ~static_cast<ULONG_PTR>(1));
}

// The status values of an overlapped record, as the platform's
// GetOverlappedResult reads them.
const ULONG_PTR kStatusPending = 0x00000103;
const ULONG_PTR kStatusCancelled = 0xC0000120;

struct HeldIo {
    OVERLAPPED* record;
    DWORD thread; // the thread that started it
    bool isRead;
    bool forGood; // nothing ends it
};

std::mutex lock;
std::string name;
HANDLE device = INVALID_HANDLE_VALUE;
std::chrono::steady_clock::time_point installed;
bool aborted = false;
DWORD pendingErrors = 0;
DCB lastSettings;
std::vector<bool> carrier{false};
std::vector<EscapeCall> escapes;
std::vector<HeldIo> held;
// One call at a time on a synchronous handle.
std::recursive_mutex deviceCall;
// The adapter's buffer: bytes taken, not yet on the line.
std::mutex bufferLock;
std::string adapterBuffer;
std::atomic<bool> feederRunning{false};
std::thread feeder;
// Writes whose end the driver holds back (writeCompletionDelayMs), in the
// order they were started, and the thread that ends them.
struct DelayedWrite {
    OVERLAPPED* record;
    DWORD count;
    std::chrono::steady_clock::time_point due;
};
std::mutex delayLock;
std::condition_variable delayChanged;
std::vector<DelayedWrite> delayed;
bool completerRunning = false;
std::thread completer;

// Holds the device for the whole of a call when it plays a synchronous
// handle.
struct SynchronousCall {
    bool serialised;
    SynchronousCall()
        : serialised(driverDouble.synchronousHandle && !driverDouble.openedOverlapped) {
        if (serialised) {
            deviceCall.lock();
        }
    }
    ~SynchronousCall() {
        if (serialised) {
            deviceCall.unlock();
        }
    }
};

const DeviceCalls& Platform() {
    return kPlatformDeviceCalls;
}

bool IsOurs(HANDLE handle) {
    std::lock_guard<std::mutex> guard(lock);
    return handle == device;
}

// True, with the call failed as a device that has gone, when it has.
bool Gone() {
    DWORD error = driverDouble.goneError;
    if (error == 0) {
        return false;
    }
    SetLastError(error);
    return true;
}

bool Aborted() {
    std::lock_guard<std::mutex> guard(lock);
    if (!aborted) {
        return false;
    }
    SetLastError(ERROR_OPERATION_ABORTED);
    return true;
}

bool ThreadAlive(DWORD id) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) {
        return false;
    }
    bool alive = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return alive;
}

// Ends the held operations that match (every one for nullptr), as cancelled,
// after the double's cancel delay.
void EndHeld(OVERLAPPED* which) {
    std::vector<HeldIo> ending;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (size_t i = 0; i < held.size();) {
            if (!held[i].forGood && (which == nullptr || held[i].record == which)) {
                ending.push_back(held[i]);
                held.erase(held.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    if (ending.empty()) {
        return;
    }
    const DWORD delay = driverDouble.cancelDelayMs;
    std::thread([ending, delay] {
        Sleep(delay);
        for (const HeldIo& io : ending) {
            if (io.isRead && !ThreadAlive(io.thread)) {
                driverDouble.readOutlivedItsThread = true;
            }
            io.record->InternalHigh = 0;
            io.record->Internal = kStatusCancelled;
            SetEvent(EventOf(io.record));
            --driverDouble.heldPending;
        }
    }).detach();
}

bool Hold(OVERLAPPED* record, bool isRead, bool forGood = false) {
    record->Internal = kStatusPending;
    record->InternalHigh = 0;
    ResetEvent(EventOf(record));
    {
        std::lock_guard<std::mutex> guard(lock);
        held.push_back({record, GetCurrentThreadId(), isRead, forGood});
    }
    ++driverDouble.heldPending;
    SetLastError(ERROR_IO_PENDING);
    return false;
}

// Hands bytes to the platform's device and waits, within a bound, until it
// has taken them.
void WriteThrough(HANDLE opened, const void* bytes, DWORD count) {
    OVERLAPPED record = {};
    record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (Platform().writeFile(opened, bytes, count, nullptr, &record) ||
        GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(record.hEvent, 5000) != WAIT_OBJECT_0) {
            Platform().cancelIoEx(opened, &record);
        }
        Platform().getOverlappedResult(opened, &record, &written, TRUE);
    }
    CloseHandle(record.hEvent);
}

// Ends a write as done, with all its bytes.
void EndWrite(OVERLAPPED* record, DWORD count) {
    record->InternalHigh = count;
    record->Internal = 0;
    SetEvent(EventOf(record));
}

// Ends the held-back writes once they are due; all of them at once when the
// double is taken away.
void CompleteDelayedWrites() {
    std::unique_lock<std::mutex> guard(delayLock);
    while (completerRunning || !delayed.empty()) {
        if (delayed.empty()) {
            delayChanged.wait(guard);
            continue;
        }
        const DelayedWrite next = delayed.front();
        if (completerRunning && std::chrono::steady_clock::now() < next.due) {
            delayChanged.wait_until(guard, next.due);
            continue;
        }
        delayed.erase(delayed.begin());
        EndWrite(next.record, next.count);
    }
}

// The bytes go on to the line now; the write ends writeCompletionDelayMs
// after it started.
BOOL WriteWithDelayedEnd(HANDLE opened, LPCVOID bytes, DWORD count, LPOVERLAPPED record) {
    const auto due = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(driverDouble.writeCompletionDelayMs.load());
    record->Internal = kStatusPending;
    record->InternalHigh = 0;
    ResetEvent(EventOf(record));
    WriteThrough(opened, bytes, count);
    {
        std::lock_guard<std::mutex> guard(delayLock);
        delayed.push_back({record, count, due});
        if (!completerRunning) {
            completerRunning = true;
            completer = std::thread(CompleteDelayedWrites);
        }
    }
    delayChanged.notify_all();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

// Ends every write still held back, and the thread that ends them.
void StopCompleter() {
    {
        std::lock_guard<std::mutex> guard(delayLock);
        completerRunning = false;
    }
    delayChanged.notify_all();
    if (completer.joinable()) {
        completer.join();
    }
}

// Passes the adapter's buffer on to the device at the adapter's pace, a few
// characters at a time.
void FeedTheLine() {
    const auto start = std::chrono::steady_clock::now();
    double sent = 0;
    while (feederRunning) {
        Sleep(5);
        std::string due;
        {
            std::lock_guard<std::mutex> guard(bufferLock);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double allowed = elapsed * driverDouble.bufferedWritesPerSecond;
            if (adapterBuffer.empty()) {
                sent = allowed; // an idle line owes nothing
                continue;
            }
            const size_t count = static_cast<size_t>(allowed - sent);
            due = adapterBuffer.substr(0, count);
            adapterBuffer.erase(0, due.size());
            sent += static_cast<double>(due.size());
        }
        HANDLE opened = INVALID_HANDLE_VALUE;
        {
            std::lock_guard<std::mutex> guard(lock);
            opened = device;
        }
        if (!due.empty() && opened != INVALID_HANDLE_VALUE) {
            WriteThrough(opened, due.data(), static_cast<DWORD>(due.size()));
        }
    }
}

// The write completes as soon as the adapter's buffer holds the bytes.
BOOL TakeIntoAdapterBuffer(LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED record) {
    {
        std::lock_guard<std::mutex> guard(bufferLock);
        adapterBuffer.append(static_cast<const char*>(bytes), count);
        if (!feederRunning.exchange(true)) {
            feeder = std::thread(FeedTheLine);
        }
    }
    if (written != nullptr) {
        *written = count;
    }
    if (record != nullptr) {
        record->Internal = 0;
        record->InternalHigh = count;
        SetEvent(EventOf(record));
    }
    return TRUE;
}

HANDLE WINAPI CreateDevice(LPCSTR fileName, DWORD access, DWORD share,
                           LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                           HANDLE templateFile) {
    bool chosen = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        chosen = name == fileName;
    }
    if (chosen) {
        ++driverDouble.opens;
        Sleep(driverDouble.openDelayMs);
    }
    if (chosen && (driverDouble.openError != 0 || driverDouble.goneError != 0)) {
        SetLastError(driverDouble.openError != 0 ? driverDouble.openError.load()
                                                 : driverDouble.goneError.load());
        return INVALID_HANDLE_VALUE;
    }
    HANDLE opened =
        Platform().createFile(fileName, access, share, security, disposition, flags, templateFile);
    if (chosen && opened != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> guard(lock);
        device = opened;
        driverDouble.openedOverlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    }
    return opened;
}

BOOL WINAPI GetState(HANDLE handle, LPDCB settings) {
    if (!IsOurs(handle)) {
        return Platform().getCommState(handle, settings);
    }
    if (Gone()) {
        return FALSE;
    }
    BOOL done = Platform().getCommState(handle, settings);
    if (done && driverDouble.reportsAbortOnError) {
        settings->fAbortOnError = 1;
    }
    return done;
}

BOOL WINAPI SetState(HANDLE handle, LPDCB settings) {
    if (!IsOurs(handle)) {
        return Platform().setCommState(handle, settings);
    }
    if (Gone()) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        lastSettings = *settings;
    }
    return Platform().setCommState(handle, settings);
}

BOOL WINAPI SetupQueues(HANDLE handle, DWORD in, DWORD out) {
    if (IsOurs(handle) && Gone()) {
        return FALSE;
    }
    return Platform().setupComm(handle, in, out);
}

BOOL WINAPI SetTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    if (IsOurs(handle) && Gone()) {
        return FALSE;
    }
    return Platform().setCommTimeouts(handle, timeouts);
}

// A pty has no modem lines: the double answers for them.
BOOL WINAPI Escape(HANDLE handle, DWORD function) {
    if (!IsOurs(handle)) {
        return Platform().escapeCommFunction(handle, function);
    }
    if (Gone()) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(lock);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - installed)
            .count();
    escapes.push_back({function, ms});
    return TRUE;
}

BOOL WINAPI ModemStatus(HANDLE handle, LPDWORD status) {
    if (!IsOurs(handle)) {
        return Platform().getCommModemStatus(handle, status);
    }
    if (Gone()) {
        return FALSE;
    }
    SynchronousCall one;
    long call = driverDouble.modemStatusCalls++;
    std::lock_guard<std::mutex> guard(lock);
    size_t index = static_cast<size_t>(call) < carrier.size() ? call : carrier.size() - 1;
    *status = carrier[index] ? MS_RLSD_ON : 0;
    return TRUE;
}

BOOL WINAPI ClearErrors(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
    if (!IsOurs(handle)) {
        return Platform().clearCommError(handle, errors, status);
    }
    if (Gone()) {
        return FALSE;
    }
    SynchronousCall one;
    BOOL done = Platform().clearCommError(handle, errors, status);
    std::lock_guard<std::mutex> guard(lock);
    if (errors != nullptr) {
        *errors = (done ? *errors : 0) | pendingErrors;
    }
    pendingErrors = 0;
    aborted = false;
    return TRUE;
}

BOOL WINAPI Read(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED record) {
    if (!IsOurs(handle)) {
        return Platform().readFile(handle, buffer, count, got, record);
    }
    ++driverDouble.readCalls;
    if (got != nullptr) {
        *got = 0;
    }
    if (Gone() || Aborted()) {
        return FALSE;
    }
    if (record != nullptr && (driverDouble.holdReads || driverDouble.holdReadsForGood)) {
        return Hold(record, true, driverDouble.holdReadsForGood);
    }
    SynchronousCall one;
    return Platform().readFile(handle, buffer, count, got, record);
}

BOOL WINAPI Write(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED record) {
    if (!IsOurs(handle)) {
        return Platform().writeFile(handle, bytes, count, written, record);
    }
    if (written != nullptr) {
        *written = 0;
    }
    if (Gone() || Aborted()) {
        return FALSE;
    }
    ++driverDouble.writeCalls;
    long before = driverDouble.written.fetch_add(static_cast<long>(count));
    long limit = driverDouble.goneAfterWritten;
    if (limit >= 0 && before + static_cast<long>(count) > limit) {
        // Gone in the middle of this write: its first bytes reach the line.
        WriteThrough(handle, bytes, static_cast<DWORD>(limit - before));
        PullDevice(driverDouble.goneAfterWrittenError);
        SetLastError(driverDouble.goneAfterWrittenError);
        return FALSE;
    }
    if (limit >= 0 && before + static_cast<long>(count) == limit) {
        PullDevice(driverDouble.goneAfterWrittenError);
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        if (lastSettings.Parity == MARKPARITY) {
            driverDouble.bytesAtMarkParity += static_cast<long>(count);
        }
    }
    if (record != nullptr && driverDouble.holdWrites) {
        return Hold(record, false);
    }
    if (record != nullptr && driverDouble.writeCompletionDelayMs > 0) {
        return WriteWithDelayedEnd(handle, bytes, count, record);
    }
    if (driverDouble.bufferedWritesPerSecond > 0) {
        return TakeIntoAdapterBuffer(bytes, count, written, record);
    }
    SynchronousCall one;
    return Platform().writeFile(handle, bytes, count, written, record);
}

BOOL WINAPI Cancel(HANDLE handle, LPOVERLAPPED record) {
    if (!IsOurs(handle)) {
        return Platform().cancelIoEx(handle, record);
    }
    ++driverDouble.cancels;
    EndHeld(record);
    Platform().cancelIoEx(handle, record);
    return TRUE;
}

// Closing ends whatever is still pending, as a driver does.
BOOL WINAPI Close(HANDLE handle) {
    if (IsOurs(handle)) {
        EndHeld(nullptr);
        StopCompleter();
        std::lock_guard<std::mutex> guard(lock);
        device = INVALID_HANDLE_VALUE;
    }
    return Platform().closeHandle(handle);
}

} // namespace

static void StopFeeder() {
    if (feederRunning.exchange(false) && feeder.joinable()) {
        feeder.join();
    }
    std::lock_guard<std::mutex> guard(bufferLock);
    adapterBuffer.clear();
    StopCompleter();
}

void InstallDriverDouble(const char* deviceName) {
    StopFeeder();
    {
        std::lock_guard<std::mutex> guard(lock);
        name = deviceName;
        device = INVALID_HANDLE_VALUE;
        installed = std::chrono::steady_clock::now();
        aborted = false;
        pendingErrors = 0;
        memset(&lastSettings, 0, sizeof lastSettings);
        carrier = {false};
        escapes.clear();
        held.clear();
    }
    driverDouble.openError = 0;
    driverDouble.openDelayMs = 0;
    driverDouble.opens = 0;
    driverDouble.reportsAbortOnError = false;
    driverDouble.alwaysAborts = false;
    driverDouble.goneError = 0;
    driverDouble.goneAfterWritten = -1;
    driverDouble.goneAfterWrittenError = ERROR_DEVICE_REMOVED;
    driverDouble.holdReads = false;
    driverDouble.holdReadsForGood = false;
    driverDouble.holdWrites = false;
    driverDouble.cancelDelayMs = 0;
    driverDouble.readCalls = 0;
    driverDouble.written = 0;
    driverDouble.cancels = 0;
    driverDouble.modemStatusCalls = 0;
    driverDouble.readOutlivedItsThread = false;
    driverDouble.heldPending = 0;
    driverDouble.synchronousHandle = false;
    driverDouble.bufferedWritesPerSecond = 0;
    driverDouble.writeCompletionDelayMs = 0;
    driverDouble.writeCalls = 0;
    driverDouble.openedOverlapped = false;
    driverDouble.bytesAtMarkParity = 0;
    // A held read or write leaves its status in its record, where the
    // platform's GetOverlappedResult finds it.
    deviceCalls = {CreateDevice,
                   GetState,
                   SetState,
                   SetupQueues,
                   SetTimeouts,
                   Escape,
                   ModemStatus,
                   ClearErrors,
                   Read,
                   Write,
                   Platform().getOverlappedResult,
                   Cancel,
                   Close};
}

void RemoveDriverDouble() {
    StopFeeder();
    deviceCalls = kPlatformDeviceCalls;
}

void PullDevice(DWORD error) {
    driverDouble.goneError = error;
    if (error == 0) {
        driverDouble.goneAfterWritten = -1;
    }
    HANDLE opened = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> guard(lock);
        opened = device;
    }
    if (error != 0 && opened != INVALID_HANDLE_VALUE) {
        kPlatformDeviceCalls.cancelIoEx(opened, nullptr);
    }
}

void InjectLineError(DWORD errors) {
    std::lock_guard<std::mutex> guard(lock);
    pendingErrors |= errors;
    if (driverDouble.alwaysAborts || lastSettings.fAbortOnError) {
        aborted = true;
    }
}

void ScriptCarrier(const std::vector<bool>& states) {
    std::lock_guard<std::mutex> guard(lock);
    carrier = states.empty() ? std::vector<bool>{false} : states;
    driverDouble.modemStatusCalls = 0;
}

DCB LastLineSettings() {
    std::lock_guard<std::mutex> guard(lock);
    return lastSettings;
}

std::vector<EscapeCall> EscapeCalls() {
    std::lock_guard<std::mutex> guard(lock);
    return escapes;
}
