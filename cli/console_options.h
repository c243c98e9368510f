// Options that several of our console programs take (korvan-cli.exe,
// korvan-sim.exe, korvan-demo-driver.exe, korvan-bench.exe), read with CLI11:
// a COM port, "COMn" in any case or plain "n", n from 1 to 256 without
// leading zeros; and a text kept in a character array.
#pragma once

#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

#include "port_list.h"

// The number of the port that text names; 0 when it names none.
inline int PortNumberOfArgument(const std::string& text) {
    const bool digitsOnly =
        !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const std::string name = digitsOnly ? "COM" + text : text;
    return PortNumberOfName(name.c_str(), static_cast<DWORD>(name.size() + 1));
}

// CLI11 transform of a port option: the argument becomes its port number, or
// is refused with a one-line reason.
//   app.add_option("--port", port)->transform(ComPortArgument());
inline CLI::Validator ComPortArgument() {
    return CLI::Validator(
        [](std::string& text) {
            const int number = PortNumberOfArgument(text);
            if (number == 0) {
                return "\"" + text + "\" is not a COM port COM1 to COM256";
            }
            text = std::to_string(number);
            return std::string();
        },
        "", "COM port");
}

// An option of a text that goes into a character array: 1 to capacity - 1
// characters.
inline CLI::Option* AddTextOption(CLI::App* app, const std::string& name, char* target,
                                  size_t capacity, const std::string& typeName,
                                  const std::string& help) {
    return app
        ->add_option_function<std::string>(
            name,
            [=](const std::string& value) {
                if (value.empty() || value.size() >= capacity) {
                    throw CLI::ValidationError(name, "needs 1 to " + std::to_string(capacity - 1) +
                                                         " characters");
                }
                strcpy(target, value.c_str());
            },
            help)
        ->type_name(typeName);
}
