#include "program_entry.h"

HINSTANCE instanceHandle;

HINSTANCE GetInstanceHandle() {
    return instanceHandle;
}
