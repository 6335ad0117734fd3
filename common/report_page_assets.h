// The report page's files (common/report_page/page.html, page.css, page.js),
// compiled in by the build (cmake/EmbedFiles.cmake writes the definitions
// from the files as they are, byte for byte). Each array ends in a NUL that
// the size leaves out.
#ifndef KORVELAN_COMMON_REPORT_PAGE_ASSETS_H_
#define KORVELAN_COMMON_REPORT_PAGE_ASSETS_H_

#include <cstddef>

namespace korvelan::tools::page_assets {

extern const char kPageHtml[];
extern const std::size_t kPageHtmlSize;
extern const char kPageCss[];
extern const std::size_t kPageCssSize;
extern const char kPageJs[];
extern const std::size_t kPageJsSize;

}  // namespace korvelan::tools::page_assets

#endif  // KORVELAN_COMMON_REPORT_PAGE_ASSETS_H_
