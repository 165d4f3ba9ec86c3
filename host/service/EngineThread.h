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
//
// A publisher (publishWith()) is how other threads read without waiting for
// the engine: the thread hands it the engine after every piece of work and
// every timer tick that published a change, before a call() that made the
// change returns, so that a caller who wrote and then reads what the
// publisher made sees the write, and nobody sees a change halfway through
// a piece of work.
class EngineThread {
  public:
    // Makes, on the engine thread, whatever copy of the engine's state its
    // owner lets other threads read. Must not throw.
    using Publisher = std::function<void(const HostEngine&)>;

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
        auto task = std::make_shared<std::packaged_task<Result()>>([this, &work]() -> Result {
            // Publishes when the work is done, also when it throws, before
            // the result is handed back.
            const PublishAfter published(*this);
            return work(engine_);
        });
        std::future<Result> result = task->get_future();
        post([task] { (*task)(); });
        return result.get();
    }

    // Hands `work(engine)` to the engine's thread without waiting for it,
    // for threads that must not block (see RouterLink). `work` must not
    // throw. False, and the work dropped, once the thread has been stopped.
    bool submit(std::function<void(HostEngine&)> work);

    // From now on hands `publisher` the engine (on the engine thread) at
    // once and after every change; an empty publisher ends that. Waits until
    // it took effect. Throws std::runtime_error once the thread has been
    // stopped. Whatever the publisher uses must outlive the thread or be
    // taken back with an empty publisher first.
    void publishWith(Publisher publisher);

    // Finishes the work already handed in, then ends the thread; timers no
    // longer tick. Later calls throw.
    void stop();

  private:
    // Publishes as it goes out of scope.
    class PublishAfter {
      public:
        explicit PublishAfter(EngineThread& thread) : thread_(thread) {}
        ~PublishAfter() { thread_.publishChanges(); }
        PublishAfter(const PublishAfter&) = delete;
        PublishAfter& operator=(const PublishAfter&) = delete;

      private:
        EngineThread& thread_;
    };

    void post(std::function<void()> task);
    void loop();
    // On the engine thread: hands the publisher the engine when a change
    // was published since it last did.
    void publishChanges() noexcept;

    HostEngine& engine_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    // Used on the engine thread only.
    Publisher publisher_;
    long long publishedAt_ = -1;
    std::thread thread_;
};

}  // namespace panelhost
