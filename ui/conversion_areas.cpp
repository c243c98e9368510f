#include "text_adapters.h"

char conversionArea[kConversionAreaSize];
char captionArea[kCaptionAreaSize];
