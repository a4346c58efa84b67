// Reads an extended dialog template (DLGTEMPLATEEX) out of a module's resources, so that tests
// can compare every field with what the windows expect.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogUnitsRect {
    int x, y, cx, cy;
    bool operator==(const DialogUnitsRect&) const = default;
};

struct DialogItem {
    int id = 0;
    std::wstring className;  // predefined classes by name: "Button", "Edit", "Static", ...
    std::wstring text;
    DWORD style = 0;
    DWORD exStyle = 0;
    DialogUnitsRect rect{};
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    DialogUnitsRect rect{};
    std::wstring menu, windowClass, caption;
    int pointSize = 0, weight = 0, italic = 0, charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Returns false (and leaves `out` partly filled) when the resource is missing, is not an
// extended template or is cut short.
bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out);

// The template's raw bytes, for creating the dialog; empty when it is missing.
std::vector<BYTE> DialogTemplateBytes(HMODULE module, int id);
