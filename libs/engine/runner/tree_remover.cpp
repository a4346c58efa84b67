#include "tree_remover.h"

#include <vector>

#include "run_text.h"
#include "tree_walker.h"

namespace kivo {
namespace {

fs::Status RemoveFile(const fs::Dir& dir, const fs::NativeString& name, const fs::NativeString& relative,
                      const RemoveOptions& options) {
    if (options.beforeDelete) {
        if (fs::Status s = options.beforeDelete(relative); !s) return s;
    }
    return dir.DeleteFile(name);
}

fs::Status RemoveBelow(const fs::Dir& parent, const fs::NativeString& name, const fs::NativeString& relative,
                       int depth, const RemoveOptions& options) {
    if (depth > kMaxTreeDepth) return {fs::Error::NotEmpty, 0};
    const fs::NativeString* last = depth == 0 ? options.last : nullptr;
    fs::Status result;
    {
        fs::Dir dir;
        if (fs::Status s = parent.OpenDir(name, dir); !s) return s;
        std::vector<fs::DirEntry> entries;
        if (fs::Status s = dir.List(entries); !s) return s;
        bool lastSeen = false;
        for (const fs::DirEntry& e : entries) {
            const fs::NativeString child = JoinNative(relative, e.name);
            if (last && e.name == *last) {
                lastSeen = true;
                continue;
            }
            fs::Status s;
            if (e.facts.kind == fs::Kind::Directory) {
                s = RemoveBelow(dir, e.name, child, depth + 1, options);
            } else if (e.facts.kind == fs::Kind::Link) {
                s = {fs::Error::IsLink, 0};
            } else {
                s = RemoveFile(dir, e.name, child, options);
            }
            if (!s && result) result = s;
        }
        if (result && lastSeen) result = RemoveFile(dir, *last, JoinNative(relative, *last), options);
    }
    if (!result) return result;
    return parent.RemoveDir(name);
}

}  // namespace

fs::Status RemoveTree(const fs::Dir& parent, const fs::NativeString& name, const RemoveOptions& options) {
    return RemoveBelow(parent, name, fs::NativeString(), 0, options);
}

}  // namespace kivo
