#include "run_texts.h"

#include <cstring>

#include "serial_port.h"

std::string SystemMessage(DWORD error) {
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's texts end in a full stop and a line break.
    while (!message.empty() && strchr(" .\r\n", message.back()) != nullptr) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "system error";
    }
    return message + " (error " + std::to_string(error) + ")";
}

std::string PortOpenReason(int16_t port) {
    const std::string name = "COM" + std::to_string(port);
    const DWORD error = PortOpenError(port);
    switch (error) {
    case 0:
        // The device opened; its line could not be set up.
        return name + " opened, but could not be set up for the module's line";
    case ERROR_SHARING_VIOLATION:
        return name + " is in use by another program";
    case ERROR_ACCESS_DENIED:
        // What Windows' serial drivers answer for a port another program holds.
        return "Access to " + name + " is denied: another program may be using it";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "There is no " + name + " on this PC";
    }
    return name + ": " + SystemMessage(error);
}

std::string FailureReport(const RunReport& report) {
    std::string text = std::string(FailureText(report.outcome)) + "\n";
    if (report.outcome == kPortNotOpened && report.detail[0] == 0) {
        return text + PortOpenReason(report.port) + "\n";
    }
    return report.detail[0] != 0 ? text + report.detail + "\n" : text;
}
