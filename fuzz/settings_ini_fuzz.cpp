// The settings file's parser fed arbitrary text, and the settings store working on such a file.
// Properties:
// - what the parser reads, written back and read again, is the same document (a fixed point),
//   and every name answers the same value in both;
// - a name CanStore accepts reads back with the value set, and leaves every other value alone;
// - the store reads what the parser reads, refuses a name it cannot store without touching the
//   file, and a stored value is in the file when Set returns.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "gbk_bytes.h"
#include "ini_document.h"
#include "settings_api.h"
#include "settings_store.h"

namespace {

using settings::IniDocument;

struct Name {
    std::string section, key;
};

// Names mostly drawn from the text itself, so that probes hit what it holds.
std::vector<Name> PickNames(FuzzedDataProvider& in, const std::string& text) {
    std::vector<Name> names{{"task_list_cfg", "loglst_1"}};
    while (names.size() < 6 && in.remaining_bytes() > 0) {
        if (in.ConsumeBool() && !text.empty()) {
            auto cut = [&] {
                const size_t at = in.ConsumeIntegralInRange<size_t>(0, text.size() - 1);
                return text.substr(at, in.ConsumeIntegralInRange<size_t>(0, 24));
            };
            std::string section = cut(), key = cut();
            names.push_back({section, key});
        } else {
            std::string section = in.ConsumeRandomLengthString(24);
            names.push_back({section, in.ConsumeRandomLengthString(24)});
        }
    }
    return names;
}

// Known fault, reported: a header such as "[ab\x81 ]" names the section "ab\x81", which is written
// back as "[ab\x81]", where the ']' reads as the lead byte's trail byte, so a rewrite loses the
// section and its values. Texts that hold one are left out of the round-trip checks until the
// parser is mended, so that the fuzzer keeps looking for other faults.
bool HasSectionEndingInLeadByte(std::string_view text) {
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        return s;
    };
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() != '[') continue;
        line.remove_prefix(1);
        size_t close = 0;
        while (close < line.size() && !(shared::GbkCharLength(line, close) == 1 && line[close] == ']'))
            close += shared::GbkCharLength(line, close);
        const std::string_view name = trim(line.substr(0, close));
        size_t last = 0;
        for (size_t pos = 0; pos < name.size(); pos += shared::GbkCharLength(name, pos)) last = pos;
        if (close < line.size() && !name.empty() && shared::GbkCharLength(name, last) == 1 &&
            shared::IsGbkLeadByte(static_cast<unsigned char>(name[last])))
            return true;
    }
    return false;
}

bool SameName(const Name& a, const Name& b) {
    return settings::EqualsIgnoringAsciiCase(a.section, b.section) &&
           settings::EqualsIgnoringAsciiCase(a.key, b.key);
}

void CheckDocument(const std::string& text, const std::vector<Name>& names, int value) {
    const IniDocument doc = IniDocument::Parse(text);
    const std::string written = doc.Serialize();
    const IniDocument back = IniDocument::Parse(written);
    FUZZ_CHECK(back.SkippedLineCount() == 0);
    FUZZ_CHECK(back.Serialize() == written);
    for (const Name& n : names) FUZZ_CHECK(doc.Get(n.section, n.key) == back.Get(n.section, n.key));

    for (const Name& target : names) {
        if (!IniDocument::CanStore(target.section, target.key)) continue;
        IniDocument changed = IniDocument::Parse(text);
        changed.SetInt(target.section, target.key, value);
        const IniDocument reread = IniDocument::Parse(changed.Serialize());
        FUZZ_CHECK(reread.GetInt(target.section, target.key) == value);
        for (const Name& other : names) {
            if (!SameName(other, target))
                FUZZ_CHECK(reread.Get(other.section, other.key) == doc.Get(other.section, other.key));
        }
    }
}

void CheckStore(const std::string& text, const std::vector<Name>& names, int value) {
    const std::filesystem::path path = fuzz::ScratchFolder() / "settings.ini";
    fuzz::WriteFile(path, text);
    const IniDocument doc = IniDocument::Parse(text);
    settings::SettingsStore store([path] { return path; });
    FUZZ_CHECK(store.Start() == SETTINGS_OK);
    for (const Name& n : names)
        FUZZ_CHECK(store.Get(n.section, n.key) == doc.GetInt(n.section, n.key).value_or(0));

    const Name& target = names.back();
    const std::string before = fuzz::ReadFile(path);
    const int rc = store.Set(target.section, target.key, value);
    if (!IniDocument::CanStore(target.section, target.key)) {
        FUZZ_CHECK(rc == SETTINGS_E_BAD_NAME);
        FUZZ_CHECK(fuzz::ReadFile(path) == before);
        return;
    }
    FUZZ_CHECK(rc == SETTINGS_OK);
    const IniDocument onDisk = IniDocument::Parse(fuzz::ReadFile(path));
    FUZZ_CHECK(onDisk.GetInt(target.section, target.key) == value);
    FUZZ_CHECK(store.Get(target.section, target.key) == value);
    for (const Name& other : names) {
        if (!SameName(other, target))
            FUZZ_CHECK(onDisk.Get(other.section, other.key) == doc.Get(other.section, other.key));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool throughStore = in.ConsumeBool();
    const int value = in.ConsumeIntegral<int>();
    const std::string text = in.ConsumeRandomLengthString(1 << 16);
    const std::vector<Name> names = PickNames(in, text);
    if (HasSectionEndingInLeadByte(text)) return 0;
    if (throughStore) {
        CheckStore(text, names, value);
    } else {
        CheckDocument(text, names, value);
    }
    return 0;
}
