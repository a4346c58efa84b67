#include "DialogTemplateReader.h"

#include <cstring>

namespace {

// Bounds-checked cursor over the template; every read fails softly past the end.
class Cursor {
  public:
    Cursor(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    bool Ok() const { return m_ok; }

    template <typename T>
    T Read() {
        T value{};
        if (m_pos + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    std::wstring ReadString() {
        std::wstring s;
        for (WORD c = Read<WORD>(); m_ok && c != 0; c = Read<WORD>()) s.push_back(static_cast<wchar_t>(c));
        return s;
    }

    // A name that is either a string or 0xFFFF followed by an ordinal ("#n").
    std::wstring ReadNameOrOrdinal() {
        if (m_pos + 2 <= m_size && m_data[m_pos] == 0xFF && m_data[m_pos + 1] == 0xFF) {
            m_pos += 2;
            return L"#" + std::to_wstring(Read<WORD>());
        }
        return ReadString();
    }

    void AlignDword() { m_pos = (m_pos + 3) & ~size_t{3}; }
    void Skip(size_t n) {
        if (m_pos + n > m_size) m_ok = false;
        m_pos += n;
    }

  private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

std::wstring PredefinedClassName(const std::wstring& name) {
    static const wchar_t* const kNames[] = {L"Button",  L"Edit",      L"Static",
                                            L"ListBox", L"ScrollBar", L"ComboBox"};
    for (int i = 0; i < 6; ++i) {
        if (name == L"#" + std::to_wstring(0x80 + i)) return kNames[i];
    }
    return name;
}

DialogUnitsRect ReadRect(Cursor& c) {
    DialogUnitsRect r{};
    r.x = c.Read<short>();
    r.y = c.Read<short>();
    r.cx = c.Read<short>();
    r.cy = c.Read<short>();
    return r;
}

}  // namespace

std::vector<BYTE> DialogTemplateBytes(HMODULE module, int id) {
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
    if (!res) return {};
    HGLOBAL loaded = LoadResource(module, res);
    auto* data = static_cast<const BYTE*>(LockResource(loaded));
    if (!data) return {};
    return std::vector<BYTE>(data, data + SizeofResource(module, res));
}

bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate& out) {
    std::vector<BYTE> bytes = DialogTemplateBytes(module, id);
    Cursor c(bytes.data(), bytes.size());
    if (c.Read<WORD>() != 1 || c.Read<WORD>() != 0xFFFF) return false;  // version 1, extended
    c.Read<DWORD>();                                                    // help id
    out.exStyle = c.Read<DWORD>();
    out.style = c.Read<DWORD>();
    const WORD count = c.Read<WORD>();
    out.rect = ReadRect(c);
    out.menu = c.ReadNameOrOrdinal();
    out.windowClass = c.ReadNameOrOrdinal();
    out.caption = c.ReadString();
    if (out.style & DS_SETFONT) {  // DS_SHELLFONT includes it
        out.pointSize = c.Read<WORD>();
        out.weight = c.Read<WORD>();
        out.italic = c.Read<BYTE>();
        out.charset = c.Read<BYTE>();
        out.typeface = c.ReadString();
    }
    for (WORD i = 0; i < count && c.Ok(); ++i) {
        c.AlignDword();
        DialogItem item;
        c.Read<DWORD>();  // help id
        item.exStyle = c.Read<DWORD>();
        item.style = c.Read<DWORD>();
        item.rect = ReadRect(c);
        item.id = static_cast<int>(c.Read<DWORD>());
        item.className = PredefinedClassName(c.ReadNameOrOrdinal());
        item.text = c.ReadNameOrOrdinal();
        c.Skip(c.Read<WORD>());  // creation data
        out.items.push_back(item);
    }
    return c.Ok() && out.items.size() == count;
}
