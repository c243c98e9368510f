#include "run_lines.h"

#include "dialog_ids.h"
#include "text_adapters.h"

static void SetLine(RunContext* run, int id, const char* text) {
    WidenText(run->textArea, text);
    SetControlText(GetDlgItem(run->dialog, id), run->textArea);
}

void SetStatusLine(RunContext* run, const char* text) {
    SetLine(run, IDC_STATE_LINE, text);
}

void SetResultLine(RunContext* run, const char* text) {
    SetLine(run, IDC_RESULT_LINE, text);
}
