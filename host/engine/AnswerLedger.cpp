#include "AnswerLedger.h"

#include <cstring>

namespace panelhost {

char* AnswerLedger::issue(int instance, std::string_view text, std::string_view command) {
    auto buffer = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(buffer.get(), text.data(), text.size());
    buffer[text.size()] = '\0';
    char* answer = buffer.get();
    // A fresh buffer may reuse the address of one released earlier.
    released_.erase(answer);
    outstanding_.emplace(
        answer, Entry{std::move(buffer), Outstanding{instance, std::string(command)}, false});
    return answer;
}

AnswerLedger::Release AnswerLedger::release(const void* answer) {
    const auto found = outstanding_.find(answer);
    if (found == outstanding_.end()) {
        return released_.count(answer) != 0 ? Release::AlreadyReleased : Release::Unknown;
    }
    outstanding_.erase(found);
    remember(answer);
    return Release::Released;
}

std::vector<AnswerLedger::Outstanding> AnswerLedger::takeUnreported(int instance) {
    std::vector<Outstanding> result;
    for (auto& [address, entry] : outstanding_) {
        if (entry.owner.instance == instance && !entry.reported) {
            entry.reported = true;
            result.push_back(entry.owner);
        }
    }
    return result;
}

std::vector<AnswerLedger::Outstanding> AnswerLedger::reclaim(int instance) {
    std::vector<Outstanding> result;
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
        if (it->second.owner.instance != instance) {
            ++it;
            continue;
        }
        result.push_back(it->second.owner);
        const void* address = it->first;
        it = outstanding_.erase(it);
        remember(address);
    }
    return result;
}

void AnswerLedger::remember(const void* answer) {
    ++releaseCount_;
    released_[answer] = releaseCount_;
    releaseOrder_.emplace_back(answer, releaseCount_);
    if (releaseOrder_.size() > kRememberedReleases) {
        const auto [oldest, number] = releaseOrder_.front();
        releaseOrder_.pop_front();
        const auto found = released_.find(oldest);
        if (found != released_.end() && found->second == number) {
            released_.erase(found);
        }
    }
}

}  // namespace panelhost
