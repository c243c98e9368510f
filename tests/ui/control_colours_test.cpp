// The main dialog's control colours: each WM_CTLCOLOR* message sets the text
// and background colour on the device context it is given and answers the
// background slot's brush. The colour table is set up here, not read from
// the registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "colour_values.h"
#include "colour_scheme.h"
#include "dialog_ids.h"
#include "main_dialog.h"

namespace {

struct MessageSlot {
    UINT message;
    int16_t slot;
};
const MessageSlot kBackgrounds[] = {
    {WM_CTLCOLOREDIT, 5}, {WM_CTLCOLORLISTBOX, 5},   {WM_CTLCOLORBTN, 6},
    {WM_CTLCOLORDLG, 1},  {WM_CTLCOLORSCROLLBAR, 7}, {WM_CTLCOLORSTATIC, 1},
};

const int kControlIds[] = {20, 21, 10, 11, 100, 101, 102, 110, 111, 200, 2, 300, 301, 302, 303};

class ControlColoursTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A colour of its own for every slot, so that a wrong slot shows.
        for (int16_t slot = 0; slot < kColourSlots; ++slot) {
            SetSlot(slot, RGB(10 + slot, 20 + slot, 30 + slot));
        }
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, MainDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        memory = CreateCompatibleDC(nullptr);
    }
    void TearDown() override {
        DeleteDC(memory);
        DestroyWindow(dialog);
        for (ColourSlot& slot : ColourTable.slots) {
            if (slot.brush != nullptr) {
                DeleteObject(slot.brush);
                slot.brush = nullptr;
            }
        }
    }
    static void SetSlot(int16_t slot, COLORREF colour) {
        ColourSlot& entry = ColourTable.slots[slot];
        if (entry.brush != nullptr) {
            DeleteObject(entry.brush);
        }
        entry.colour = colour;
        entry.brush = CreateSolidBrush(colour);
    }
    // Sends the message for control through the procedure, with a device
    // context whose colours are first set to something no slot has.
    HBRUSH Colour(UINT message, HWND control) {
        SetTextColor(memory, RGB(1, 2, 3));
        SetBkColor(memory, RGB(4, 5, 6));
        return reinterpret_cast<HBRUSH>(MainDialogProc(
            dialog, message, reinterpret_cast<WPARAM>(memory), reinterpret_cast<LPARAM>(control)));
    }
    // Every message for every control and the dialog itself.
    void ExpectColours(COLORREF text) {
        for (const MessageSlot& entry : kBackgrounds) {
            const ColourSlot& background = ColourTable.slots[entry.slot];
            for (int id : kControlIds) {
                SCOPED_TRACE("message " + std::to_string(entry.message) + ", control " +
                             std::to_string(id));
                EXPECT_EQ(Colour(entry.message, GetDlgItem(dialog, id)), background.brush);
                const bool line = id == IDC_STATE_LINE || id == IDC_RESULT_LINE;
                EXPECT_EQ(GetTextColor(memory), line ? RGB(255, 0, 0) : text);
                EXPECT_EQ(GetBkColor(memory), background.colour);
            }
            EXPECT_EQ(Colour(entry.message, dialog), background.brush);
            EXPECT_EQ(GetTextColor(memory), text);
            EXPECT_EQ(GetBkColor(memory), background.colour);
        }
    }
    HWND dialog = nullptr;
    HDC memory = nullptr;
};

} // namespace

TEST(ColourChoice, BackgroundSlotsByMessage) {
    for (const MessageSlot& entry : kBackgrounds) {
        EXPECT_EQ(BackgroundSlotOf(entry.message), entry.slot);
    }
    EXPECT_EQ(BackgroundSlotOf(WM_CTLCOLORMSGBOX), -1);
    EXPECT_EQ(BackgroundSlotOf(0x139), -1);
    EXPECT_EQ(kLineTextColour, 255u);
    EXPECT_EQ(kTextColourSlot, 3);
}

TEST_F(ControlColoursTest, EachMessageAnswersItsSlotsBrushAndColours) {
    ExpectColours(ColourTable.slots[3].colour);
}

TEST_F(ControlColoursTest, SlotThreeColoursEveryTextButTheStateAndResultLines) {
    SetSlot(3, RGB(0, 0, 255));
    ExpectColours(RGB(0, 0, 255));
    // Red on red stays red: the lines never take slot 3.
    SetSlot(3, RGB(255, 0, 0));
    ExpectColours(RGB(255, 0, 0));
    SetSlot(3, RGB(0, 128, 0));
    ExpectColours(RGB(0, 128, 0));
}

TEST_F(ControlColoursTest, BackgroundSlotsFollowTheTable) {
    SetSlot(1, RGB(1, 100, 200));
    SetSlot(5, RGB(5, 50, 150));
    EXPECT_EQ(Colour(WM_CTLCOLORSTATIC, GetDlgItem(dialog, 300)), ColourTable.slots[1].brush);
    EXPECT_EQ(GetBkColor(memory), RGB(1, 100, 200));
    EXPECT_EQ(Colour(WM_CTLCOLORDLG, dialog), ColourTable.slots[1].brush);
    EXPECT_EQ(GetBkColor(memory), RGB(1, 100, 200));
    EXPECT_EQ(Colour(WM_CTLCOLOREDIT, GetDlgItem(dialog, 101)), ColourTable.slots[5].brush);
    EXPECT_EQ(GetBkColor(memory), RGB(5, 50, 150));
}

TEST_F(ControlColoursTest, LinesThatTheDialogLacksAndForeignWindowsTakeSlotThree) {
    // 305 and 307 are named among the red lines but do not exist.
    EXPECT_EQ(GetDlgItem(dialog, 305), nullptr);
    EXPECT_EQ(GetDlgItem(dialog, 307), nullptr);
    const COLORREF text = ColourTable.slots[3].colour;
    EXPECT_EQ(Colour(WM_CTLCOLORSTATIC, nullptr), ColourTable.slots[1].brush);
    EXPECT_EQ(GetTextColor(memory), text);

    // A static of identifier 301 in another dialog is not this dialog's line.
    HWND other = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                    nullptr, MainDialogProc, 0);
    ASSERT_NE(other, nullptr);
    Colour(WM_CTLCOLORSTATIC, GetDlgItem(other, IDC_STATE_LINE));
    EXPECT_EQ(GetTextColor(memory), text);
    DestroyWindow(other);
}

TEST_F(ControlColoursTest, TheDialogManagerPassesTheBrushOn) {
    // Sent to the dialog window, the answer comes through the dialog manager.
    HWND line = GetDlgItem(dialog, IDC_RESULT_LINE);
    LRESULT answer = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory),
                                  reinterpret_cast<LPARAM>(line));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(answer), ColourTable.slots[1].brush);
    EXPECT_EQ(GetTextColor(memory), RGB(255, 0, 0));
    // The message box colour message is not answered.
    EXPECT_EQ(MainDialogProc(dialog, WM_CTLCOLORMSGBOX, reinterpret_cast<WPARAM>(memory),
                             reinterpret_cast<LPARAM>(line)),
              0);
}
