// Options that several of our console programs take (korvan-cli.exe,
// korvan-sim.exe, korvan-demo-driver.exe, korvan-bench.exe), read with CLI11:
// a COM port, "COMn" in any case or plain "n", n from 1 to 256 without
// leading zeros; and a text kept in a character array. And the problem of a
// command line that CLI11 refuses, in the programs' own words.
#pragma once

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

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

// The problem of a command line that CLI11 refused, in our programs' own words
// and on one line, for their usage error ("korvan-cli: PROBLEM (see ...)").
// The texts of our own checks pass unchanged; CLI11's wording does not.
//   catch (const CLI::ParseError& e) { return UsageError(UsageProblem(e)); }
inline std::string UsageProblem(const CLI::ParseError& error) {
    const std::string text = error.what();
    const auto startsWith = [&text](const std::string& start) { return text.rfind(start, 0) == 0; };
    const auto contains = [&text](const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    // Most of CLI11's texts begin with the option's name: "--port: ...".
    const size_t colon = text.find(": ");
    const std::string name = colon == std::string::npos ? std::string() : text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? text : text.substr(colon + 2);

    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        // CLI11 lists the arguments last first.
        std::vector<std::string> words;
        std::istringstream list(rest);
        for (std::string word; list >> word;) {
            words.insert(words.begin(), word);
        }
        std::string joined;
        for (const std::string& word : words) {
            joined += (joined.empty() ? "" : " ") + word;
        }
        return (words.size() == 1 ? "unexpected argument: " : "unexpected arguments: ") + joined;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
        if (contains(": At Most ")) {
            return name + " is given more than once";
        }
        // "--port: 1 required COMn missing"
        const size_t type = rest.find(" required ");
        if (contains(" missing") && type != std::string::npos) {
            return name + " needs a value (" + rest.substr(type + 10, rest.size() - type - 18) +
                   ")";
        }
        if (contains(": At least ")) {
            return name + " needs a value";
        }
        if (contains("disallowed flag override")) {
            return text.substr(0, text.find(' ')) + " takes no value";
        }
        return "an option has too many or too few values";
    }
    if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
        if (startsWith("Could not convert: ")) {
            // "Could not convert: --wait-start = abc"
            const std::string item = text.substr(19);
            const size_t equals = item.find(" = ");
            if (equals != std::string::npos) {
                return item.substr(0, equals) + ": " + item.substr(equals + 3) +
                       " is not a value it takes";
            }
        }
        if (contains("for a flag") || contains("true/false")) {
            return name + " takes no value";
        }
        return "a value is not of the kind its option takes";
    }
    if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
        // CLI::Range: "--pace: Value 0 not in range 1 to 1000".
        if (rest.rfind("Value ", 0) == 0 && rest.find(" not in range ") != std::string::npos) {
            const size_t at = rest.find(" not in range ");
            return name + ": " + rest.substr(6, at - 6) + " is no number from " +
                   rest.substr(at + 14);
        }
        return text; // our own checks' texts
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        const std::string required = " is required";
        if (text.size() > required.size() &&
            text.compare(text.size() - required.size(), required.size(), required) == 0) {
            return text.substr(0, text.size() - required.size()) + " is missing";
        }
        return "something the command line needs is missing";
    }
    if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr && contains(" requires ")) {
        return text.substr(0, text.find(" requires ")) + " needs " +
               text.substr(text.find(" requires ") + 10);
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr && contains(" excludes ")) {
        return text.substr(0, text.find(" excludes ")) + " and " +
               text.substr(text.find(" excludes ") + 10) + " cannot be given together";
    }
    return "the command line cannot be read";
}
