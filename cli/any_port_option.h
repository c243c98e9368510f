// korvan-cli's --port: a COM port as the other console programs read it, or
// "auto" (any case) for a run that finds the module on whichever port it
// sends its banner.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "console_options.h"
#include "run_face.h"

// True when text asks for the port to be found.
inline bool IsAutoPortArgument(const std::string& text) {
    if (text.size() != 4) {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        if ((text[i] | 0x20) != "auto"[i]) {
            return false;
        }
    }
    return true;
}

// CLI11 transform: the argument becomes its port number, or kAnyPort for
// "auto", or is refused with a one-line reason.
inline CLI::Validator ComPortOrAutoArgument() {
    return CLI::Validator(
        [](std::string& text) {
            if (IsAutoPortArgument(text)) {
                text = std::to_string(static_cast<int>(kAnyPort));
                return std::string();
            }
            const int number = PortNumberOfArgument(text);
            if (number == 0) {
                return "\"" + text + "\" is not a COM port COM1 to COM256, nor auto";
            }
            text = std::to_string(number);
            return std::string();
        },
        "", "COM port or auto");
}
