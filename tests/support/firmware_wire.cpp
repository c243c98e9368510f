#include "support/firmware_wire.h"

std::string ScriptBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

std::string FirmwareWire(const std::string& script, size_t upTo) {
    const char digits[] = "0123456789ABCDEF";
    std::string wire = "\x14\x10";
    unsigned sum = 0;
    for (size_t k = 0; k < upTo && k < script.size(); ++k) {
        const uint8_t value = static_cast<uint8_t>(script[k]);
        wire += digits[value / 16];
        wire += digits[value % 16];
        sum += value;
    }
    if (upTo >= script.size()) {
        wire += '\n';
        for (int shift = 12; shift >= 0; shift -= 4) {
            wire += digits[(sum >> shift) & 0xF];
        }
    }
    return wire;
}

std::string FirmwareWire(const std::string& script) {
    return FirmwareWire(script, script.size());
}

std::vector<int32_t> AckIndices(size_t size) {
    std::vector<int32_t> indices;
    for (size_t j = 95; j < size; j += 128) {
        indices.push_back(static_cast<int32_t>(j));
    }
    return indices;
}
