// Options that several of our console programs take (korvan-cli.exe,
// korvan-sim.exe, korvan-demo-driver.exe, korvan-bench.exe), read with CLI11:
// a COM port, "COMn" in any case or plain "n", n from 1 to 256 without
// leading zeros; and a text kept in a character array.
#pragma once

#include <cstring>
#include <string>

#include <CLI/CLI.hpp>

// The number of the port that text names; 0 when it names none.
inline int PortNumberOfArgument(const std::string& text) {
    const bool prefixed = text.size() > 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' &&
                          (text[2] | 0x20) == 'm';
    const std::string digits = prefixed ? text.substr(3) : text;
    if (digits.empty() || digits.size() > 3 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int number = std::stoi(digits);
    return number <= 256 ? number : 0;
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
