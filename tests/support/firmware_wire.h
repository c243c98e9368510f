// Test support: what a firmware download must look like on the wire,
// written here from the module's side, apart from the tool's own encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A script of size bytes that holds every byte value, in every order.
std::string ScriptBytes(size_t size);

// What the module receives of a download of script: the handshake bytes, a
// pair per script byte up to upTo and, when every byte went, the checksum
// line.
std::string FirmwareWire(const std::string& script, size_t upTo);
std::string FirmwareWire(const std::string& script);

// The script indices after which the module acknowledges: 95, 223, ...
std::vector<int32_t> AckIndices(size_t size);
