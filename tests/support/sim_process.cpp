#include "support/sim_process.h"

#include <windows.h>

#include "support/peer_port.h"
#include "support/run_driver.h"

bool Module::Start(int port, const std::string& options) {
    trace = TempPath("station-module-" + std::to_string(port) + ".trc");
    DeleteFileA(trace.c_str());
    return process.Start("sim\\korvan-sim.exe",
                         "COM" + std::to_string(port) + " --trace \"" + trace + "\" " + options);
}

void Module::PowerOn() {
    process.Send("p\n");
}

std::string Module::Received() {
    process.Send("q\n");
    process.CloseInput();
    process.Wait(10000);
    return BytesReceivedByModule(trace);
}

Module::~Module() {
    DeleteFileA(trace.c_str());
}
