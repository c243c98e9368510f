// The program's version information and application manifest, read back from
// this executable, which links the same resource object as the program.
#include <gtest/gtest.h>

#include "support/text_checks.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

// This executable's version information block.
std::vector<BYTE> OwnVersionInfo() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof(path));
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) {
        block.clear();
    }
    return block;
}

std::string VersionString(std::vector<BYTE>& block, const char* name) {
    std::string query = std::string("\\StringFileInfo\\040704B0\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
        return "(missing)";
    }
    return value;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

// The manifest's text with every run of white space cut to one blank.
std::string ManifestText() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (found == nullptr) {
        return "";
    }
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    std::string text;
    for (DWORD i = 0; i < SizeofResource(nullptr, found); ++i) {
        char c = data[i];
        bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (!blank) {
            text.push_back(c);
        } else if (!text.empty() && text.back() != ' ') {
            text.push_back(' ');
        }
    }
    return text;
}

// The identity of the process's own assembly as the platform read it from
// the manifest, in its encoded form: the name, then attribute="value" parts,
// separated by commas. Empty when it cannot be queried.
std::vector<std::string> OwnAssemblyIdentity() {
    // No context is activated: the null handle stands for the process's
    // default context, and its assembly 1 is the program's manifest.
    DWORD index = 1;
    SIZE_T needed = 0;
    QueryActCtxW(0, nullptr, &index, AssemblyDetailedInformationInActivationContext, nullptr, 0,
                 &needed);
    std::vector<BYTE> buffer(needed);
    const auto* info =
        reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    if (needed < sizeof(*info) ||
        !QueryActCtxW(0, nullptr, &index, AssemblyDetailedInformationInActivationContext,
                      buffer.data(), buffer.size(), &needed) ||
        info->lpAssemblyEncodedAssemblyIdentity == nullptr) {
        return {};
    }
    std::vector<std::string> parts(1);
    for (const WCHAR* c = info->lpAssemblyEncodedAssemblyIdentity; *c != 0; ++c) {
        if (*c == L',') {
            parts.emplace_back();
        } else {
            parts.back().push_back(static_cast<char>(*c));
        }
    }
    return parts;
}

} // namespace

TEST(VersionInfo, IsVersion101OfKorvanSetup) {
    std::vector<BYTE> block = OwnVersionInfo();
    ASSERT_FALSE(block.empty());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u); // 1.1.0.0, shown as 1.01
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u); // a release
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0407);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(VersionString(block, "FileVersion"), "1.01");
    EXPECT_EQ(VersionString(block, "ProductVersion"), "1.01");
    EXPECT_EQ(VersionString(block, "ProductName"), "KORVAN_Setup");
    EXPECT_EQ(VersionString(block, "InternalName"), "KORVAN_Setup");
    EXPECT_EQ(VersionString(block, "OriginalFilename"), "KORVAN_Setup.exe");
    EXPECT_EQ(VersionString(block, "FileDescription"), "Programme Korvan modules");
}

TEST(Manifest, IsTheOnlyOneAndAsksForInvokerRightsAndSystemDpi) {
    // Exactly one manifest: no default one of the tool chain beside ours.
    std::vector<ULONG_PTR> names;
    EnumResourceNamesA(nullptr, MAKEINTRESOURCEA(24), CollectName,
                       reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names, std::vector<ULONG_PTR>{1});

    std::string manifest = ManifestText();
    ASSERT_FALSE(manifest.empty());
    EXPECT_TRUE(Contains(manifest, "<requestedExecutionLevel level=\"asInvoker\""));
    EXPECT_TRUE(Contains(manifest, "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                                   "WindowsSettings\">true</dpiAware>"));
    EXPECT_FALSE(Contains(manifest, "dpiAwareness")); // no per-monitor awareness
    EXPECT_FALSE(Contains(manifest, "PerMonitor"));
    EXPECT_FALSE(Contains(manifest, "per monitor"));
}

TEST(Manifest, AsksForUtf8AsTheAnsiCodePage) {
    EXPECT_TRUE(Contains(ManifestText(), "<activeCodePage xmlns=\"http://schemas.microsoft.com/"
                                         "SMI/2019/WindowsSettings\">UTF-8</activeCodePage>"));
    // This test program runs under the manifest too.
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(Manifest, KeepsTheClassicCommonControls) {
    std::string manifest = ManifestText();
    ASSERT_FALSE(manifest.empty());
    EXPECT_FALSE(Contains(manifest, "Common-Controls"));
    EXPECT_FALSE(Contains(manifest, "<dependency"));

    // The process's activation context redirects no common controls library.
    ACTCTX_SECTION_KEYED_DATA found = {};
    found.cbSize = sizeof(found);
    EXPECT_FALSE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                          "comctl32.dll", &found));
}

TEST(Manifest, NamesTheProgramsProcessorAndTheVersionResourcesVersion) {
    // Windows refuses to start a program whose manifest names another
    // processor: x86 for the 32-bit program, amd64 for a 64-bit test build.
    const std::string processor = sizeof(void*) == 4 ? "x86" : "amd64";

    std::vector<BYTE> block = OwnVersionInfo();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(version, "1.1.0.0");

    // What the platform made of the manifest's assemblyIdentity.
    std::vector<std::string> identity = OwnAssemblyIdentity();
    ASSERT_FALSE(identity.empty());
    EXPECT_EQ(identity[0], "Orbenta.KORVAN_Setup");
    std::set<std::string> attributes(identity.begin() + 1, identity.end());
    EXPECT_EQ(attributes, (std::set<std::string>{"processorArchitecture=\"" + processor + "\"",
                                                 "type=\"win32\"", "version=\"" + version + "\""}));
}
