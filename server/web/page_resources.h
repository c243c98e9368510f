// The names of the page's files among the resources of the programs that
// serve a station (cli/web/page_resources.rc, which names them bare).
#pragma once

#define KORVAN_PAGE_HTML "KORVAN_PAGE_HTML"
#define KORVAN_PAGE_CSS "KORVAN_PAGE_CSS"
#define KORVAN_PAGE_JS "KORVAN_PAGE_JS"
