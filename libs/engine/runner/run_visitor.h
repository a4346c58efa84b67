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
