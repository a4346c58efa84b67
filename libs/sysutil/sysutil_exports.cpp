// plan_sysutil.dll: the C entry points. Nothing may escape into the caller, so every entry
// catches all exceptions and answers as for unusable input.
#include "sysutil_api.h"

#include "file_attributes.h"
#include "shared_files.h"
#include "split_first.h"

extern "C" char* sys_strtok(char* text, const char* delimiters, char** rest) {
    try {
        return sysutil::SplitFirst(text, delimiters, rest);
    } catch (...) {
        if (rest) *rest = nullptr;
        return nullptr;
    }
}

extern "C" int sys_GetFileAttribute(const char* path) {
    return shared::CatchAll(SYS_NO_ATTRIBUTES, [&] { return sysutil::FileAttributesOfGbkPath(path); });
}
