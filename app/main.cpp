#include <windows.h>

#include "CPlanDeskApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CPlanDeskApp app;
    app.InitInstance();
    return 0;
}
