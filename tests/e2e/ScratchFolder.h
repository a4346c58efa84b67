// A fresh folder under the temporary folder, removed with everything in it when the object goes;
// and whole folder trees written and read back as relative path -> bytes.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace e2e {

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::wstring& tag);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::wstring Wide() const { return m_path.wstring(); }

  private:
    std::filesystem::path m_path;
};

// Relative path (with '/' separators; a trailing '/' marks an empty folder) -> file bytes.
using Tree = std::map<std::wstring, std::string>;

void WriteTree(const std::filesystem::path& root, const Tree& tree);
Tree ReadTree(const std::filesystem::path& root);
std::string ReadBytes(const std::filesystem::path& file);

}  // namespace e2e
