#include "split_first.h"

#include <cstring>
#include <string_view>

#include "gbk_bytes.h"

namespace sysutil {

char* SplitFirst(char* text, const char* delimiters, char** rest) {
    if (rest) *rest = nullptr;
    if (!text || !*text) return nullptr;
    if (!delimiters || !*delimiters) return text;
    const std::string_view view(text);
    for (size_t pos = 0; pos < view.size();) {
        const size_t length = shared::GbkCharLength(view, pos);
        if (length == 1 && std::strchr(delimiters, view[pos])) {
            text[pos] = '\0';
            if (rest) *rest = text + pos + 1;
            return text;
        }
        pos += length;
    }
    return text;
}

}  // namespace sysutil
