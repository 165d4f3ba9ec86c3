#include "ChangeFeed.h"

#include <algorithm>
#include <utility>

namespace panelhost {

std::vector<Change> ChangeFeed::Subscription::wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return state_ != State::Open || !changes_.empty(); });
    std::vector<Change> taken(changes_.begin(), changes_.end());
    changes_.clear();
    return taken;
}

bool ChangeFeed::Subscription::closed() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_ != State::Open;
}

bool ChangeFeed::Subscription::lagged() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::Lagged;
}

ChangeFeed::~ChangeFeed() {
    close();
}

void ChangeFeed::publish(ChangeEvent event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
        return;
    }
    ++last_;
    ++kindCounts_[event.index()];
    const Change change{last_, std::move(event)};
    auto it = subscribers_.begin();
    while (it != subscribers_.end()) {
        Subscription& subscriber = **it;
        bool lagged = false;
        {
            const std::lock_guard<std::mutex> subscriberLock(subscriber.mutex_);
            if (subscriber.changes_.size() >= kBacklog) {
                subscriber.state_ = Subscription::State::Lagged;
                subscriber.changes_.clear();
                lagged = true;
            } else {
                subscriber.changes_.push_back(change);
            }
        }
        subscriber.ready_.notify_one();
        it = lagged ? subscribers_.erase(it) : it + 1;
    }
}

std::shared_ptr<ChangeFeed::Subscription> ChangeFeed::subscribe() {
    auto subscription = std::make_shared<Subscription>();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
        subscription->state_ = Subscription::State::Ended;
    } else {
        subscribers_.push_back(subscription);
    }
    return subscription;
}

void ChangeFeed::unsubscribe(const std::shared_ptr<Subscription>& subscription) {
    // Under the feed's lock, like every change of a subscription's state, so
    // that a resubscribe() cannot put back what is being ended.
    const std::lock_guard<std::mutex> lock(mutex_);
    subscribers_.erase(std::remove(subscribers_.begin(), subscribers_.end(), subscription),
                       subscribers_.end());
    end(*subscription);
}

bool ChangeFeed::resubscribe(const std::shared_ptr<Subscription>& subscription) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::lock_guard<std::mutex> subscriberLock(subscription->mutex_);
    if (closed_ || subscription->state_ != Subscription::State::Lagged) {
        return false;
    }
    subscription->state_ = Subscription::State::Open;
    subscription->changes_.clear();
    subscribers_.push_back(subscription);
    return true;
}

void ChangeFeed::end(Subscription& subscription) {
    {
        const std::lock_guard<std::mutex> lock(subscription.mutex_);
        subscription.state_ = Subscription::State::Ended;
    }
    subscription.ready_.notify_all();
}

void ChangeFeed::close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& subscriber : subscribers_) {
        end(*subscriber);
    }
    subscribers_.clear();
}

ChangeFeed::KindCounts ChangeFeed::kindCounts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return kindCounts_;
}

long long ChangeFeed::lastId() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

}  // namespace panelhost
