// The system utility library (plan_sysutil.dll).
#pragma once

extern "C" {

// Splits text at the first of the delimiter characters. Returns the part before it
// (text itself, terminated in place), and leaves in *rest the text after it, or null
// when there is no delimiter. Returns null for a null or empty text. Steps over GBK
// double-byte characters, so a trail byte is never taken for a delimiter.
char* sys_strtok(char* text, const char* delimiters, char** rest);

// File attribute bits of a GBK path (0x10 = directory), or SYS_NO_ATTRIBUTES when the
// path does not exist or cannot be queried; that value has bit 0x10 clear.
enum { SYS_NO_ATTRIBUTES = 0 };
int sys_GetFileAttribute(const char* path);

}  // extern "C"
