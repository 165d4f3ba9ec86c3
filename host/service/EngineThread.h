#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "HostEngine.h"

namespace panelhost {

// The engine's one thread. Other threads (HTTP handlers, the main thread)
// hand it work with call() and wait for the result; between pieces of work
// it delivers the ticks of due timers, taking turns with the work so that
// neither starves the other. So every call into the engine, and
// through it into every script, happens on this thread, one at a time.
// The engine must outlive the thread object.
class EngineThread {
  public:
    explicit EngineThread(HostEngine& engine);
    // Stops the thread (see stop()).
    ~EngineThread();

    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Runs `work(engine)` on the engine's thread and returns its result;
    // an exception it throws is rethrown here. Throws std::runtime_error
    // once the thread has been stopped. Must not be called from the
    // engine's own thread.
    template <typename Work>
    auto call(Work&& work) -> std::invoke_result_t<Work, HostEngine&> {
        using Result = std::invoke_result_t<Work, HostEngine&>;
        auto task = std::make_shared<std::packaged_task<Result()>>(
            [this, &work]() -> Result { return work(engine_); });
        std::future<Result> result = task->get_future();
        post([task] { (*task)(); });
        return result.get();
    }

    // Hands `work(engine)` to the engine's thread without waiting for it,
    // for threads that must not block (see RouterLink). `work` must not
    // throw. False, and the work dropped, once the thread has been stopped.
    bool submit(std::function<void(HostEngine&)> work);

    // Finishes the work already handed in, then ends the thread; timers no
    // longer tick. Later calls throw.
    void stop();

  private:
    void post(std::function<void()> task);
    void loop();

    HostEngine& engine_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace panelhost
