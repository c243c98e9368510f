// The status line (the step under way) and the result line (the outcome).
#pragma once

#include "run_context.h"

void SetStatusLine(RunContext* run, const char* text);
void SetResultLine(RunContext* run, const char* text);
