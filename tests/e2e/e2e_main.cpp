// The end-to-end driver: the gtest suite, or with "--screenshots DIR" only the pictures of the
// real app that the README shows.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "ReadmeScreenshots.h"

int main(int argc, char** argv) {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (args && count >= 2 && std::wstring(args[1]) == L"--screenshots") {
        const int code = e2e::TakeReadmeScreenshots(count >= 3 ? args[2] : L"");
        ::LocalFree(args);
        return code;
    }
    if (args) ::LocalFree(args);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
