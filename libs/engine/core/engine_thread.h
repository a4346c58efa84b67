// Marks the threads the engine owns, so an API call that would wait for its own thread can refuse.
#pragma once

namespace kivo {

bool OnEngineThread();

class EngineThreadMark {
  public:
    EngineThreadMark();
    ~EngineThreadMark();
    EngineThreadMark(const EngineThreadMark&) = delete;
    EngineThreadMark& operator=(const EngineThreadMark&) = delete;
};

}  // namespace kivo
