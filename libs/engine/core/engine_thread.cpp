#include "engine_thread.h"

namespace kivo {
namespace {
thread_local bool t_engineThread = false;
}

bool OnEngineThread() {
    return t_engineThread;
}
EngineThreadMark::EngineThreadMark() {
    t_engineThread = true;
}
EngineThreadMark::~EngineThreadMark() {
    t_engineThread = false;
}

}  // namespace kivo
