// What the tree visitors of every run share: the run's context, the root's GBK text for the log,
// links skipped with a log line, and cancellation that sticks once the engine has asked for it.
#pragma once

#include <string>
#include <string_view>

#include "run_text.h"
#include "task_runner.h"
#include "tree_walker.h"

namespace kivo {

class RunVisitor : public TreeVisitor {
  public:
    RunVisitor(RunContext& context, std::string_view rootGbk) : m_context(context), m_root(rootGbk) {}

    void Link(const fs::NativeString& relative) override {
        m_context.Log("跳过链接：" + LogPath(m_root, relative));
    }
    bool Cancelled() const { return m_cancelled; }

  protected:
    // A folder the walk could not read, or one nested too deep: `verb` names the run ("备份", "清理"),
    // `leftOut` what became of the folder's contents.
    void LogUnreadableFolder(std::string_view verb, const fs::NativeString& relative, const fs::Status& status) {
        m_context.Log(std::string(verb) + "失败：无法读取目录 " + LogPath(m_root, relative) + "：" +
                      ReasonText(status));
    }
    void LogTooDeep(std::string_view verb, std::string_view leftOut, const fs::NativeString& relative) {
        m_context.Log(std::string(verb) + "失败：目录层级超过 " + Decimal(kMaxTreeDepth) + " 层，" +
                      std::string(leftOut) + " " + LogPath(m_root, relative));
    }

    // Whether the run is cancelled, asking the engine until it says so.
    bool CheckCancelled() {
        if (!m_cancelled && m_context.Cancelled()) m_cancelled = true;
        return m_cancelled;
    }

    RunContext& m_context;
    const std::string m_root;

  private:
    bool m_cancelled = false;
};

}  // namespace kivo
