#include "main_dialog.h"

WCHAR fileNameBuffer[kFileNameRoom];
char pickerFileBuffer[kFileNameRoom];
OPENFILENAMEA openFileBlock;
