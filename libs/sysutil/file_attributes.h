// The attribute query behind sys_GetFileAttribute.
#pragma once

namespace sysutil {

constexpr int kNoAttributes = 0;  // nothing there, or nothing that could be asked
constexpr int kDirectoryBit = 0x10;
constexpr int kNormalBit = 0x80;  // a plain file with no other attribute

// Attribute bits of the file or folder named by a GBK path: Windows' own bits there; on POSIX
// kDirectoryBit for a folder and kNormalBit otherwise. kNoAttributes for a null or empty path,
// one that is not valid GBK, and one that does not exist. An existing entry never yields 0.
int FileAttributesOfGbkPath(const char* path);

}  // namespace sysutil
