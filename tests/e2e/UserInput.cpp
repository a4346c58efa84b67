#include "UserInput.h"

#include <vector>

namespace e2e {
namespace {

INPUT Key(WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

INPUT Mouse(DWORD flags, POINT screen) {
    // Absolute coordinates are 0..65535 across the primary screen.
    const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = LONG((screen.x * 65536LL + width / 2) / width);
    input.mi.dy = LONG((screen.y * 65536LL + height / 2) / height);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

void Send(std::vector<INPUT> inputs) {
    ::SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

void ClickAt(POINT screen, MouseButton button, bool control) {
    const DWORD down = button == MouseButton::Left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN;
    const DWORD up = button == MouseButton::Left ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP;
    // Arrive from a neighbouring pixel: a pointer that is already there moves no window's hover state.
    Send({Mouse(MOUSEEVENTF_MOVE, {screen.x + 1, screen.y + 1}), Mouse(MOUSEEVENTF_MOVE, screen)});
    ::Sleep(30);
    std::vector<INPUT> click;
    if (control) click.push_back(Key(VK_CONTROL, false));
    click.push_back(Mouse(down, screen));
    click.push_back(Mouse(up, screen));
    if (control) click.push_back(Key(VK_CONTROL, true));
    Send(click);
}

void PressKey(WORD vk) {
    Send({Key(vk, false), Key(vk, true)});
}

POINT RowPoint(const RECT& row) {
    return {row.left + 12, (row.top + row.bottom) / 2};
}

}  // namespace e2e
