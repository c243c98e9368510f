#include "support/peer_port.h"

#include <cstdio>

HANDLE OpenPeer(int portNumber) {
    // COM1 to COM9 are reserved names; from COM10 on only the device path opens.
    char name[24];
    snprintf(name, sizeof name, portNumber <= 9 ? "COM%d" : "\\\\.\\COM%d", portNumber);
    HANDLE peer = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (peer == INVALID_HANDLE_VALUE) {
        return peer;
    }
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(peer, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
    SetCommState(peer, &dcb);
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(peer, &timeouts);
    return peer;
}

void PeerWrite(HANDLE peer, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(peer, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

static bool PeerReadByte(HANDLE peer, char* byte) {
    DWORD got = 0;
    return ReadFile(peer, byte, 1, &got, nullptr) && got == 1;
}

std::string PeerReadUntilQuiet(HANDLE peer, int quietMs) {
    std::string bytes;
    Stopwatch quiet;
    char byte;
    while (quiet.Ms() < quietMs) {
        if (PeerReadByte(peer, &byte)) {
            bytes.push_back(byte);
            quiet = Stopwatch();
        } else {
            Sleep(1);
        }
    }
    return bytes;
}

std::string PeerReadCount(HANDLE peer, size_t count, int timeoutMs) {
    std::string bytes;
    Stopwatch clock;
    char byte;
    while (bytes.size() < count && clock.Ms() < timeoutMs) {
        if (PeerReadByte(peer, &byte)) {
            bytes.push_back(byte);
        } else {
            Sleep(1);
        }
    }
    return bytes;
}

std::string TempPath(const std::string& name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "korvan-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string text;
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

NamedStopEvent::NamedStopEvent(const std::string& prefix, bool set)
    : name_(prefix + "-" + std::to_string(GetCurrentProcessId())),
      event_(CreateEventA(nullptr, TRUE, set ? TRUE : FALSE, name_.c_str())) {}

NamedStopEvent::~NamedStopEvent() {
    if (event_ != nullptr) {
        CloseHandle(event_);
    }
}
