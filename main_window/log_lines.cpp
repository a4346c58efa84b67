#include "log_lines.h"

#include <algorithm>

#include "gbk_bytes.h"

namespace {

bool ContainsOnCharBoundary(std::string_view text, std::string_view word) {
    for (size_t i = 0; i + word.size() <= text.size(); i += shared::GbkCharLength(text, i)) {
        if (text.compare(i, word.size(), word) == 0) return true;
    }
    return false;
}

}  // namespace

bool HasAlertKeyword(std::string_view line) {
    static const char* const kKeywords[] = {"失败", "报警", "异常", "停止", "急停", "错误", "超时", "触发"};
    return std::any_of(std::begin(kKeywords), std::end(kKeywords),
                       [&](const char* word) { return ContainsOnCharBoundary(line, word); });
}
