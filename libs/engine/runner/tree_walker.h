// Walks a folder tree through handles, depth first, in name order. Links are reported, never
// entered; folders listed as guards (our own backup folder inside a source) are skipped by identity.
// How an entry is walked follows from its facts alone (WalkKind), so that the choice is tested apart.
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
    // Whether a reparse point that holds data of its own (a deduplicated or cloud file or folder) is
    // visited as the file or folder it holds; otherwise it is a Link like any other.
    virtual bool ReadsThroughData() const { return false; }
};

// Deep enough for any real tree, shallow enough that the open handles of one branch stay few.
constexpr int kMaxTreeDepth = 200;

// How the walk treats an entry: Link and Other as they say, and a reparse point by its tag when the
// visitor reads through data (a link stays a link; a device of a Linux subsystem is Other).
fs::Kind WalkKind(const fs::Facts& facts, bool readsThroughData);

void WalkTree(const fs::Dir& root, TreeVisitor& visitor, const std::vector<fs::FileId>& guards);

}  // namespace kivo
