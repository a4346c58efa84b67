#include "tree_remover.h"

#include <vector>

#include "tree_walker.h"

namespace kivo {
namespace {

fs::Status RemoveBelow(const fs::Dir& parent, const fs::NativeString& name, int depth) {
    if (depth > kMaxTreeDepth) return {fs::Error::NotEmpty, 0};
    fs::Status result;
    {
        fs::Dir dir;
        if (fs::Status s = parent.OpenDir(name, dir); !s) return s;
        std::vector<fs::DirEntry> entries;
        if (fs::Status s = dir.List(entries); !s) return s;
        for (const fs::DirEntry& e : entries) {
            fs::Status s;
            if (e.facts.kind == fs::Kind::Directory) {
                s = RemoveBelow(dir, e.name, depth + 1);
            } else if (e.facts.kind == fs::Kind::Link) {
                s = {fs::Error::IsLink, 0};
            } else {
                s = dir.DeleteFile(e.name);
            }
            if (!s && result) result = s;
        }
    }
    if (!result) return result;
    return parent.RemoveDir(name);
}

}  // namespace

fs::Status RemoveTree(const fs::Dir& parent, const fs::NativeString& name) {
    return RemoveBelow(parent, name, 0);
}

}  // namespace kivo
