// Test support: looks at the texts that programs write.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// How often part stands in text.
inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A program's lines end in CR LF, which the tests read as LF.
inline std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Waits until holds() is true, looking every 10 ms, for at most timeoutMs.
inline bool AwaitTrue(const std::function<bool()>& holds, DWORD timeoutMs) {
    const ULONGLONG startMs = GetTickCount64();
    while (!holds()) {
        if (GetTickCount64() - startMs >= timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}
