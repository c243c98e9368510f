// What the log's rows carry from the system: the time of day in UTC and a
// script's SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The system's clock now, in UTC as ISO 8601 to the second:
// "2026-12-08T09:15:02Z".
std::string UtcNowText();

// The SHA-256 of bytes in lower-case hexadecimal; empty when the system
// cannot compute it.
std::string Sha256Text(const uint8_t* bytes, size_t count);
