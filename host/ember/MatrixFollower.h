#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "EmberConsumerListener.h"
#include "GlowElement.h"
#include "MatrixSelector.h"
#include "RouterModel.h"

namespace ember {

// The consumer's side of one connection, without any I/O: walks the tree
// with GetDirectory requests (one at a time, since some providers answer
// only the first request of a message) until it finds the selected matrix,
// reads the matrix and its first label set, and from then on keeps the
// model up to date from whatever the provider pushes. Reports to the
// listener from the calling thread; changes are reported once the model is
// complete, and folded into the onConnected() model before. Single-threaded;
// the listener must outlive the follower.
class MatrixFollower {
  public:
    // A tree larger than any router's; a walk that visits more nodes than
    // this gives up instead of crawling a huge provider forever.
    static constexpr std::size_t kMaxWalkedNodes = 4096;

    MatrixFollower(MatrixSelector selector, EmberConsumerListener& listener);

    // Starts over on a new connection; returns the first request payload.
    std::vector<std::uint8_t> start();
    // Takes one decoded message. Appends request payloads to send to
    // `requests`. False when following cannot go on (no such matrix, a
    // walk too large); `error` says why.
    bool handle(const std::vector<GlowElement>& elements,
                std::vector<std::vector<std::uint8_t>>& requests, std::string& error);

    bool complete() const { return complete_; }
    bool waiting() const { return pending_.has_value(); }
    // The request an answer is awaited for, as the log shows it.
    std::string pendingText() const;
    const RouterModel& model() const { return model_; }

  private:
    struct Request {
        GlowKind kind = GlowKind::Node;
        GlowPath path;
    };

    void take(const GlowElement& element);
    void takeNode(const GlowElement& element);
    void takeMatrix(const GlowElement& element);
    void takeParameter(const GlowElement& element);
    void applyConnection(const GlowConnection& connection);
    void request(GlowKind kind, const GlowPath& path);
    std::vector<std::string> identifiersOf(const GlowPath& path) const;
    bool answers(const std::vector<GlowElement>& elements) const;

    const MatrixSelector selector_;
    EmberConsumerListener& listener_;
    RouterModel model_;
    std::optional<GlowPath> matrixPath_;
    bool matrixRead_ = false;
    std::optional<GlowPath> labelBase_;
    bool complete_ = false;
    // Keyed by pathText(): identifiers seen, and paths already requested.
    std::map<std::string, std::string> identifiers_;
    std::set<std::string> requested_;
    std::deque<Request> queue_;
    std::optional<Request> pending_;
};

}  // namespace ember
