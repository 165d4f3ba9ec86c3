#include "EngineThread.h"

#include <chrono>

namespace panelhost {

EngineThread::EngineThread(HostEngine& engine) : engine_(engine), thread_([this] { loop(); }) {}

EngineThread::~EngineThread() {
    stop();
}

void EngineThread::post(std::function<void()> task) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            throw std::runtime_error("the host is shutting down");
        }
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool EngineThread::submit(std::function<void(HostEngine&)> work) {
    try {
        post([this, work = std::move(work)] {
            work(engine_);
            publishChanges();
        });
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

void EngineThread::publishWith(Publisher publisher) {
    call([this, &publisher](HostEngine&) {
        publisher_ = std::move(publisher);
        // Publishes at once, when the call's work is done.
        publishedAt_ = -1;
    });
}

void EngineThread::publishChanges() noexcept {
    if (!publisher_) {
        return;
    }
    const long long count = engine_.changeCount();
    if (count == publishedAt_) {
        return;
    }
    publishedAt_ = count;
    publisher_(engine_);
}

void EngineThread::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EngineThread::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Timers and queued work take turns: when the scripts' ticks take longer
    // than their intervals, timers are due again at once, and without turns
    // no call from an HTTP handler would ever run.
    bool timersRanLast = false;
    for (;;) {
        const auto due = engine_.nextTimerDue();
        const bool timersDue = due && *due <= std::chrono::steady_clock::now() && !stopping_;
        if (timersDue && !(timersRanLast && !tasks_.empty())) {
            lock.unlock();
            engine_.runTimers();
            publishChanges();
            lock.lock();
            timersRanLast = true;
            continue;
        }
        timersRanLast = false;
        if (!tasks_.empty()) {
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (stopping_) {
            return;
        }
        if (due) {
            wake_.wait_until(lock, *due);
        } else {
            wake_.wait(lock);
        }
    }
}

}  // namespace panelhost
