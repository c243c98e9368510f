// The texts of korvan-cli about a run: a failure's text with the line that
// says where it stopped, and the system's reasons in words.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "run_face.h"

// What standard error gets after a failed run: the failure text and a line
// with its detail (for "Error on opening the COM-Port", the system's reason).
std::string FailureReport(const RunReport& report);

// Why port could not be opened, in words, from the system's error of its
// last opening.
std::string PortOpenReason(int16_t port);

// The system's text of an error code, on one line, with its number.
std::string SystemMessage(DWORD error);
