// The script store when its buffer cannot be had. This program links the
// refusing heap below in place of the store's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "script_memory.h"
#include "script_store.h"
#include "text_adapters.h"

static int takeCalls = 0;

uint8_t* TakeScriptMemory(int32_t) {
    ++takeCalls;
    return nullptr;
}

void ReturnScriptMemory(uint8_t*) {}

TEST(ScriptStore, ABufferThatCannotBeHadFailsTheLoadAndClosesTheFile) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string name = std::string(folder) + "korvan_script_nomem_" +
                             std::to_string(GetCurrentProcessId()) + ".dcs";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "abc", 3, &written, nullptr);
    CloseHandle(file);

    WCHAR wideName[MAX_PATH];
    WidenText(wideName, name.c_str());
    EXPECT_EQ(LoadScript(1, wideName), 1);
    EXPECT_EQ(takeCalls, 1);
    EXPECT_EQ(ScriptStore[1].loaded, 0);
    EXPECT_EQ(ScriptSize(1), 0);

    HANDLE again = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the store kept the file open";
    CloseHandle(again);
    DeleteFileA(name.c_str());
}
