// The main dialog's template (resource 10, German): first read byte by byte
// as the resource compiler left it in this executable, then created for real
// and asked through the platform.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dialog_ids.h"

namespace {

const WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN); // 1031
const DWORD kChild = WS_CHILD | WS_VISIBLE;

const char kCaption[] = "  KORVAN_Setup.exe  V1.01   -   Programme Korvan modules ";

struct ExpectedControl {
    DWORD id;
    WORD classAtom;        // predefined class: 0x80 button, 0x81 edit, 0x82 static, 0x85 combo box
    const char* className; // the same class by name
    const char* caption;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

// Template order.
const ExpectedControl kControls[] = {
    {20, 0x82, "Static", "COM-Port", 5, 5, 75, 10, kChild | SS_LEFT | WS_GROUP, 0},
    {21, 0x85, "ComboBox", "", 100, 5, 165, 160,
     kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    {10, 0x80, "Button", "Load new firmware into Korvan module", 5, 25, 230, 10,
     kChild | BS_AUTORADIOBUTTON, 0},
    {11, 0x80, "Button", "Set Profibus-ID into Korvan module", 5, 55, 230, 10,
     kChild | BS_AUTORADIOBUTTON, 0},
    {100, 0x82, "Static", "File name ( dcs-File )", 20, 38, 75, 10, kChild | SS_LEFT | WS_GROUP, 0},
    {101, 0x81, "Edit", "", 100, 38, 165, 12, kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0},
    {102, 0x80, "Button", "Setup", 268, 38, 35, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
    {110, 0x82, "Static", "New Profibus-ID", 20, 65, 75, 10, kChild | SS_LEFT | WS_GROUP, 0},
    {111, 0x85, "ComboBox", "", 100, 65, 165, 160,
     kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    {200, 0x80, "Button", "S T A R T     P R O G R A M M I N G", 5, 86, 295, 16,
     kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {2, 0x80, "Button", "Quit", 245, 102, 55, 12, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
    {300, 0x82, "Static", "Programming state ", 5, 121, 295, 10, kChild | SS_LEFT | WS_GROUP, 0},
    {301, 0x82, "Static", "", 10, 130, 290, 12, kChild | SS_LEFT | WS_GROUP, WS_EX_STATICEDGE},
    {302, 0x82, "Static", "Programming result", 5, 147, 295, 10, kChild | SS_LEFT | WS_GROUP, 0},
    {303, 0x82, "Static", "", 10, 158, 290, 12, kChild | SS_LEFT | WS_GROUP, WS_EX_STATICEDGE},
};
const size_t kControlCount = sizeof(kControls) / sizeof(kControls[0]);

// A name-or-ordinal field of a template (sz_Or_Ord).
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring name;
};

// Reads a template front to back; every read past the end is recorded.
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    size_t Position() const {
        return pos_;
    }
    bool Overrun() const {
        return overrun_;
    }
    BYTE Byte() {
        if (pos_ + 1 > size_) {
            overrun_ = true;
            return 0;
        }
        return data_[pos_++];
    }
    WORD Word() {
        WORD low = Byte();
        return static_cast<WORD>(low | (Byte() << 8));
    }
    short Short() {
        return static_cast<short>(Word());
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); c != 0 && !overrun_; c = Word()) {
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }
    NameOrOrdinal Field() {
        NameOrOrdinal field;
        WORD first = Word();
        if (first == 0xFFFF) {
            field.isOrdinal = true;
            field.ordinal = Word();
        } else if (first != 0) {
            field.name = static_cast<wchar_t>(first) + String();
        }
        return field;
    }
    void AlignDword() {
        while (pos_ % 4 != 0 && pos_ < size_) {
            ++pos_;
        }
    }

  private:
    const BYTE* data_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

struct TemplateItem {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    NameOrOrdinal windowClass, title;
    WORD extraCount;
};

struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD itemCount;
    short x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::wstring title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring typeface;
    std::vector<TemplateItem> items;
    size_t bytesRead;
    size_t resourceSize;
    bool overrun;
};

// The German dialog 10 of this executable, parsed.
DialogTemplate ReadMainDialogTemplate() {
    DialogTemplate dialog = {};
    HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), kGerman);
    if (found == nullptr) {
        ADD_FAILURE() << "no German dialog resource 10";
        return dialog;
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    const BYTE* data = static_cast<const BYTE*>(LockResource(loaded));
    dialog.resourceSize = SizeofResource(nullptr, found);

    TemplateReader reader(data, dialog.resourceSize);
    dialog.version = reader.Word();
    dialog.signature = reader.Word();
    dialog.helpId = reader.Dword();
    dialog.exStyle = reader.Dword();
    dialog.style = reader.Dword();
    dialog.itemCount = reader.Word();
    dialog.x = reader.Short();
    dialog.y = reader.Short();
    dialog.cx = reader.Short();
    dialog.cy = reader.Short();
    dialog.menu = reader.Field();
    dialog.windowClass = reader.Field();
    dialog.title = reader.String();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.Word();
        dialog.weight = reader.Word();
        dialog.italic = reader.Byte();
        dialog.charset = reader.Byte();
        dialog.typeface = reader.String();
    }
    for (WORD i = 0; i < dialog.itemCount && !reader.Overrun(); ++i) {
        reader.AlignDword();
        TemplateItem item = {};
        item.helpId = reader.Dword();
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = reader.Short();
        item.y = reader.Short();
        item.cx = reader.Short();
        item.cy = reader.Short();
        item.id = reader.Dword();
        item.windowClass = reader.Field();
        item.title = reader.Field();
        item.extraCount = reader.Word();
        for (WORD k = 0; k < item.extraCount; ++k) {
            reader.Byte();
        }
        dialog.items.push_back(item);
    }
    dialog.bytesRead = reader.Position();
    dialog.overrun = reader.Overrun();
    return dialog;
}

const char* AtomClassName(WORD atom) {
    switch (atom) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    }
    return "?";
}

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

} // namespace

TEST(DialogTemplate, IsOneGermanExtendedTemplate) {
    std::vector<WORD> languages;
    EnumResourceLanguagesA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(10), CountLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{1031});

    DialogTemplate dialog = ReadMainDialogTemplate();
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF);
    EXPECT_FALSE(dialog.overrun);
    // Nothing but the alignment of the last item's end may follow it.
    EXPECT_LE(dialog.bytesRead, dialog.resourceSize);
    EXPECT_LT(dialog.resourceSize - dialog.bytesRead, 4u);
}

TEST(DialogTemplate, HasTheMainDialogsFrame) {
    DialogTemplate dialog = ReadMainDialogTemplate();
    EXPECT_EQ(dialog.style,
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT));
    EXPECT_EQ(dialog.style & WS_SYSMENU, 0u); // no close box
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.helpId, 0u);
    EXPECT_EQ(dialog.itemCount, kControlCount);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 307);
    EXPECT_EQ(dialog.cy, 175);
    // No menu, the platform's dialog class: both fields a single zero word.
    EXPECT_FALSE(dialog.menu.isOrdinal);
    EXPECT_EQ(dialog.menu.name, L"");
    EXPECT_FALSE(dialog.windowClass.isOrdinal);
    EXPECT_EQ(dialog.windowClass.name, L"");
    EXPECT_EQ(dialog.title, Wide(kCaption));
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);
    EXPECT_EQ(dialog.typeface, L"MS Sans Serif");
}

TEST(DialogTemplate, HoldsEveryControlInOrderExactly) {
    DialogTemplate dialog = ReadMainDialogTemplate();
    ASSERT_EQ(dialog.items.size(), kControlCount);
    for (size_t i = 0; i < kControlCount; ++i) {
        const ExpectedControl& want = kControls[i];
        const TemplateItem& item = dialog.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + ", control " + std::to_string(want.id));
        EXPECT_EQ(item.id, want.id);
        if (item.windowClass.isOrdinal) {
            EXPECT_EQ(item.windowClass.ordinal, want.classAtom);
        } else {
            // A class given by name must name the same predefined class.
            EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE,
                                     item.windowClass.name.c_str(), -1,
                                     Wide(want.className).c_str(), -1),
                      CSTR_EQUAL)
                << AtomClassName(want.classAtom);
        }
        EXPECT_FALSE(item.title.isOrdinal);
        EXPECT_EQ(item.title.name, Wide(want.caption));
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style, want.style) << std::hex << item.style << " " << want.style;
        EXPECT_EQ(item.exStyle, want.exStyle);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.extraCount, 0);
    }
}

TEST(DialogTemplate, RangesCoverTheirControls) {
    DialogTemplate dialog = ReadMainDialogTemplate();
    std::vector<DWORD> input, firmware, profibus;
    for (const TemplateItem& item : dialog.items) {
        if (item.id >= IDC_INPUT_FIRST && item.id <= IDC_INPUT_LAST) {
            input.push_back(item.id);
        }
        if (item.id >= IDC_FIRMWARE_GROUP_FIRST && item.id <= IDC_FIRMWARE_GROUP_LAST) {
            firmware.push_back(item.id);
        }
        if (item.id >= IDC_PROFIBUS_GROUP_FIRST && item.id <= IDC_PROFIBUS_GROUP_LAST) {
            profibus.push_back(item.id);
        }
    }
    // Quit and the state and result lines stay outside the input range.
    EXPECT_EQ(input, (std::vector<DWORD>{20, 21, 10, 11, 100, 101, 102, 110, 111, 200}));
    EXPECT_EQ(firmware, (std::vector<DWORD>{100, 101, 102}));
    EXPECT_EQ(profibus, (std::vector<DWORD>{110, 111}));
    EXPECT_EQ(IDC_QUIT, IDCANCEL); // Esc quits
}

// ---- The dialog created from the template ----

namespace {

// Identifiers of the clicks (BN_CLICKED, 0) that reached the probe, in order.
std::vector<WORD> clicks;

INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            clicks.push_back(LOWORD(wParam));
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_TIMER: // a modal run that was not ended in time
        EndDialog(dialog, -5);
        return TRUE;
    }
    return FALSE;
}

std::string WindowText(HWND window) {
    char text[200] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassName(HWND window) {
    char name[100] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

LONG Style(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

class MainDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, ProbeDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        ShowWindow(dialog, SW_SHOW);
    }
    void TearDown() override {
        if (dialog != nullptr) {
            DestroyWindow(dialog);
        }
    }
    HWND Item(int id) {
        return GetDlgItem(dialog, id);
    }
    HWND dialog = nullptr;
};

} // namespace

TEST_F(MainDialog, HasItsCaptionAndNoSystemMenu) {
    EXPECT_EQ(WindowText(dialog), kCaption);
    EXPECT_EQ(Style(dialog) & WS_SYSMENU, 0);
    EXPECT_NE(Style(dialog) & WS_CAPTION, 0);
    EXPECT_EQ(ClassName(dialog), "#32770");
}

TEST_F(MainDialog, CreatesEveryControlWithItsClassTextAndStyles) {
    for (const ExpectedControl& want : kControls) {
        SCOPED_TRACE("control " + std::to_string(want.id));
        HWND control = Item(want.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(lstrcmpiA(ClassName(control).c_str(), want.className), 0) << ClassName(control);
        if (want.classAtom != 0x85) { // a drop-down list shows its selection, not a caption
            EXPECT_EQ(WindowText(control), want.caption);
        }
        EXPECT_EQ(Style(control) & (WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP),
                  static_cast<LONG>(want.style & (WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP)));
        EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_STATICEDGE,
                  static_cast<LONG>(want.exStyle));
    }
}

TEST_F(MainDialog, RadioButtonsFormOneGroup) {
    SendMessageA(Item(10), BM_SETCHECK, BST_CHECKED, 0);
    clicks.clear();
    SendMessageA(Item(11), BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageA(Item(11), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(Item(10), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(clicks, std::vector<WORD>{11});

    SendMessageA(Item(10), BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageA(Item(10), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(Item(11), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(MainDialog, ListsAreUnsortedDropDownLists) {
    for (int id : {21, 111}) {
        SCOPED_TRACE("control " + std::to_string(id));
        HWND list = Item(id);
        EXPECT_EQ(Style(list) & 3, CBS_DROPDOWNLIST);
        EXPECT_EQ(Style(list) & CBS_SORT, 0);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("COM2"));
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("COM1"));
        char first[20] = "";
        SendMessageA(list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
        EXPECT_STREQ(first, "COM2"); // kept in the order added
        // The closed list shows the selected entry.
        EXPECT_EQ(SendMessageA(list, CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(WindowText(list), "COM1");
    }
}

TEST_F(MainDialog, FileNameEditIsEditable) {
    HWND edit = Item(101);
    EXPECT_EQ(Style(edit) & ES_READONLY, 0);
    EXPECT_NE(Style(edit) & ES_AUTOHSCROLL, 0);
    SetWindowTextA(edit, "Korvan.dcs");
    EXPECT_EQ(WindowText(edit), "Korvan.dcs");
}

TEST_F(MainDialog, StartIsTheDefaultButtonAndTabOrderFollowsTheTemplate) {
    LRESULT defId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(defId), DC_HASDEFID);
    EXPECT_EQ(LOWORD(defId), 200);

    // The first tab stop is the COM-port list; the stops then follow the template.
    std::vector<int> stops;
    HWND stop = GetNextDlgTabItem(dialog, nullptr, FALSE);
    for (int i = 0; i < 10 && stop != nullptr; ++i) {
        stops.push_back(GetDlgCtrlID(stop));
        stop = GetNextDlgTabItem(dialog, stop, FALSE);
        if (stop != nullptr && GetDlgCtrlID(stop) == stops.front()) {
            break;
        }
    }
    EXPECT_EQ(stops, (std::vector<int>{21, 101, 102, 111, 200, 2}));
}

TEST(MainDialogModal, EscapeEndsTheModalDialogThroughQuit) {
    // The modal loop turns Esc into WM_COMMAND from identifier 2; the probe
    // ends the dialog with it. A timer ends a dialog that hangs with -5.
    struct Poster {
        static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_INITDIALOG) {
                SetTimer(dialog, 1, 10000, nullptr);
                PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
            }
            return ProbeDialogProc(dialog, message, wParam, lParam);
        }
    };
    clicks.clear();
    INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(10), nullptr, Poster::Proc, 0);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(clicks, std::vector<WORD>{2});
}
