// Identifiers of the main dialog and its controls, and the identifier ranges
// through which the dialog and the programming run address whole groups of
// controls. Read by the C++ code and by the resource compiler (main_dialog.rc),
// so everything here is a plain preprocessor number.
#ifndef KORVAN_DIALOG_IDS_H
#define KORVAN_DIALOG_IDS_H

// Dialog resource of the main dialog.
#define IDD_MAIN_DIALOG 10

// Controls, in template order.
#define IDC_COM_PORT_LABEL 20     // "COM-Port"
#define IDC_COM_PORT_LIST 21      // COM1 to COM8, then the further ports of the PC
#define IDC_LOAD_FIRMWARE 10      // radio button: job "load new firmware"
#define IDC_SET_PROFIBUS_ID 11    // radio button: job "set Profibus-ID"
#define IDC_FILE_NAME_LABEL 100   // "File name ( dcs-File )"
#define IDC_FILE_NAME 101         // firmware script file name
#define IDC_FILE_SETUP 102        // "Setup": opens the file picker
#define IDC_PROFIBUS_ID_LABEL 110 // "New Profibus-ID"
#define IDC_PROFIBUS_ID_LIST 111  // IDs 1 to 127
#define IDC_START 200             // starts the programming run
#define IDC_QUIT 2                // the platform's cancel command, so Esc quits too
#define IDC_STATE_LABEL 300       // "Programming state "
#define IDC_STATE_LINE 301        // status line
#define IDC_RESULT_LABEL 302      // "Programming result"
#define IDC_RESULT_LINE 303       // result line

// Identifier ranges, both ends included. An identifier in a range that has no
// control is passed over.

// Every control of the upper part, labels included; disabled while a
// programming run works. Quit and the lines 300..303 lie outside.
#define IDC_INPUT_FIRST 10
#define IDC_INPUT_LAST 209
// The firmware group, visible while "load new firmware" is checked.
#define IDC_FIRMWARE_GROUP_FIRST 100
#define IDC_FIRMWARE_GROUP_LAST 109
// The Profibus-ID group, visible while "set Profibus-ID" is checked.
#define IDC_PROFIBUS_GROUP_FIRST 110
#define IDC_PROFIBUS_GROUP_LAST 119

#endif
