// The splitting behind sys_strtok, kept free of Windows so it is tested natively.
#pragma once

namespace sysutil {

// Splits text at the first delimiter character: terminates the text there, stores the text after
// it in *rest and returns text. With no delimiter in the text, returns text whole and stores null.
// A null or empty text returns null (and stores null). rest may be null when the caller wants only
// the first part. Delimiters are single-byte characters; double-byte GBK characters in the text
// are stepped over whole, so their trail byte never matches one. Unlike strtok, nothing is kept
// between calls and an empty first part is returned as such: ",1800" gives "" and "1800".
char* SplitFirst(char* text, const char* delimiters, char** rest);

}  // namespace sysutil
