// The token file read from the disk; its text is read by TokenFromFileText
// (serve_option.cpp).
#include "serve_option.h"
#include "short_file.h"

std::string ReadTokenFile(const std::string& name, std::string* token) {
    // The secret is on the first line: a few hundred bytes are plenty.
    std::string text;
    if (!ReadShortFile(name, 4096, &text)) {
        return "the token file \"" + name + "\" cannot be read";
    }
    const std::string problem = TokenFromFileText(text, token);
    return problem.empty() ? "" : "the token file \"" + name + "\": " + problem;
}
