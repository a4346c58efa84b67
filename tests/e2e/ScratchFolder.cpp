#include "ScratchFolder.h"

#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>

namespace e2e {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::wstring& tag) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1] = L"";
    ::GetTempPathW(DWORD(std::size(temp)), temp);
    for (;;) {
        m_path = fs::path(temp) / (L"pd-e2e-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++counter) + L"-" + tag);
        if (fs::create_directories(m_path)) break;
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void WriteTree(const fs::path& root, const Tree& tree) {
    for (const auto& [relative, bytes] : tree) {
        const fs::path path = root / fs::path(relative).make_preferred();
        if (!relative.empty() && relative.back() == L'/') {
            fs::create_directories(path);
            continue;
        }
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
}

Tree ReadTree(const fs::path& root) {
    Tree tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::wstring relative = fs::relative(it->path(), root).generic_wstring();
        if (it->is_directory()) {
            if (fs::is_empty(it->path())) tree[relative + L"/"] = "";
        } else {
            tree[relative] = ReadBytes(it->path());
        }
    }
    return tree;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace e2e
