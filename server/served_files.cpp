#include "served_files.h"

#include <windows.h>

#include "run_texts.h"
#include "web/page_resources.h"

bool PageFile(Route route, std::string* body, std::string* contentType) {
    const char* name = nullptr;
    switch (route) {
    case kPageRoute:
        name = KORVAN_PAGE_HTML;
        *contentType = "text/html; charset=utf-8";
        break;
    case kStyleRoute:
        name = KORVAN_PAGE_CSS;
        *contentType = "text/css; charset=utf-8";
        break;
    case kScriptRoute:
        name = KORVAN_PAGE_JS;
        *contentType = "text/javascript; charset=utf-8";
        break;
    default:
        return false;
    }
    HRSRC found = FindResourceA(nullptr, name, MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return false;
    }
    body->assign(static_cast<const char*>(bytes), SizeofResource(nullptr, found));
    return true;
}
