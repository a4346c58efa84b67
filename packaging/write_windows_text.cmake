# cmake -DIN=<utf-8 text> -DOUT=<file> -DVERSION=<x.y.z.w> -P write_windows_text.cmake
# Fills in @VERSION@ and writes the text as Windows tools expect it: a UTF-8 byte-order mark, CRLF.
cmake_minimum_required(VERSION 3.25)
file(READ "${IN}" text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
