// The system utility library (plan_sysutil.dll).
#pragma once

extern "C" {

// Splits text at the first of the delimiter characters. Returns the part before it
// (text itself, terminated in place), and leaves in *rest the text after it, or null
// when there is no delimiter. Returns null for a null or empty text. Steps over GBK
// double-byte characters, so a trail byte is never taken for a delimiter.
// Examples with ",": "0800,1800" gives "0800" and "1800"; "0800," gives "0800" and "";
// ",1800" gives "" and "1800"; "," gives "" and ""; "0800" gives "0800" and null;
// "" gives null and null. Delimiters are single-byte characters; a null or empty delimiter
// text splits nothing. rest may be null; otherwise *rest is always written. Nothing is kept
// between calls.
char* sys_strtok(char* text, const char* delimiters, char** rest);

// File attribute bits of a GBK path (0x10 = directory), or SYS_NO_ATTRIBUTES when the
// path does not exist or cannot be queried; that value has bit 0x10 clear. The path is
// converted with code page 936 whatever the system code page; a null, empty or not
// convertible path gives SYS_NO_ATTRIBUTES. An existing file or folder never gives 0.
enum { SYS_NO_ATTRIBUTES = 0 };
int sys_GetFileAttribute(const char* path);

}  // extern "C"
