// korvan-cli's command line, its arguments as wmain gets them: whatever
// they are, the reading ends with the program going on, its help or
// version, or one usage line; never with an exception. A command line
// taken holds only what its options allow: ports COM1 to COM256 or auto, a
// wait of 1 to 3600 s, a count of 1 to 1000000, a Profibus-ID of 1 to 127.
// The input: the arguments separated by zero bytes, in UTF-8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

namespace {

// UTF-8 to code points, a byte that does not fit taken as it is.
std::wstring Wide(const std::string& text) {
    std::wstring wide;
    for (size_t k = 0; k < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t point = extra == 0 ? c : c & (0x3F >> extra);
        size_t j = 1;
        for (; j <= static_cast<size_t>(extra) && k + j < text.size() &&
               (static_cast<unsigned char>(text[k + j]) & 0xC0) == 0x80;
             ++j) {
            point = point << 6 | (static_cast<unsigned char>(text[k + j]) & 0x3F);
        }
        if (j != static_cast<size_t>(extra) + 1) {
            point = c;
            j = 1;
        }
        wide += static_cast<wchar_t>(point);
        k += j;
    }
    return wide;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> arguments{L"korvan-cli"};
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t at = 0; at <= text.size() && arguments.size() < 64;) {
        const size_t end = text.find('\0', at);
        arguments.push_back(Wide(text.substr(at, end == std::string::npos ? end : end - at)));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);

    CommandLine line;
    const int status = ReadCommandLine(static_cast<int>(arguments.size()), argv.data(), &line);
    CHECK(status == -1 || status == 0 || status == kUsageError);
    if (status != -1) {
        return 0;
    }
    for (int port : line.ports) {
        CHECK(port == kAnyPort || (port >= 1 && port <= 256));
    }
    CHECK(line.waitStartSeconds >= 1 && line.waitStartSeconds <= 3600);
    CHECK(!line.countGiven || (line.count >= 1 && line.count <= 1000000));
    if (line.jobGiven && line.mode == kProfibusIdMode) {
        CHECK(line.profibusId >= 1 && line.profibusId <= 127);
    }
    return 0;
}
