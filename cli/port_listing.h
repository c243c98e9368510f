// korvan-cli --list-ports: each port the PC has, with what Windows knows of
// its device (friendly name, maker, USB vendor and product IDs), in aligned
// columns. A port without such a record shows just its name.
#pragma once

#include <cstdint>
#include <string>

#include "port_records.h"

// The listing of the ports in present (the serial drivers' list) and those
// with a record, ascending, each once; a line for each, ending in "\n".
std::string PortListing(const int16_t* present, int16_t presentCount, const PortRecord* records,
                        int16_t recordCount);

// The listing of this PC's ports now.
std::string ListPortsNow();
