// The row texts call the utility library's sys_strtok; natively the library's core stands in.
#include "split_first.h"
#include "sysutil_api.h"

extern "C" char* sys_strtok(char* text, const char* delimiters, char** rest) {
    return sysutil::SplitFirst(text, delimiters, rest);
}
