// Walks a folder tree through handles, depth first, in name order. Links are reported, never
// entered; folders listed as guards (our own backup folder inside a source) are skipped by identity.
#pragma once

#include <vector>

#include "file_system.h"

namespace kivo {

class TreeVisitor {
  public:
    virtual ~TreeVisitor() = default;
    // A folder below the root, before its contents; false skips it.
    virtual bool EnterDirectory(const fs::Dir& dir, const fs::NativeString& relative,
                                const fs::DirEntry& entry) = 0;
    virtual void LeaveDirectory(const fs::NativeString& relative) { (void)relative; }
    virtual void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) = 0;
    virtual void Link(const fs::NativeString& relative) = 0;
    virtual void Guarded(const fs::NativeString& relative) { (void)relative; }
    // A folder that could not be opened or listed (relative is empty for the root itself).
    virtual void Failure(const fs::NativeString& relative, const fs::Status& status) = 0;
    virtual void TooDeep(const fs::NativeString& relative) = 0;
    // Checked before every entry: cancelled, or a fault that ends the run.
    virtual bool Stop() = 0;
};

// Deep enough for any real tree, shallow enough that the open handles of one branch stay few.
constexpr int kMaxTreeDepth = 200;

void WalkTree(const fs::Dir& root, TreeVisitor& visitor, const std::vector<fs::FileId>& guards);

}  // namespace kivo
