#include "MatrixFollower.h"

#include <algorithm>
#include <utility>

#include "GlowEncoder.h"

namespace ember {
namespace {

// The children of a label set's node: a node of target labels and one of
// source labels, each holding one string parameter per signal number.
constexpr std::uint32_t kTargetLabels = 1;
constexpr std::uint32_t kSourceLabels = 2;

bool startsWith(const GlowPath& path, const GlowPath& prefix) {
    return path.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

}  // namespace

MatrixFollower::MatrixFollower(MatrixSelector selector, EmberConsumerListener& listener)
    : selector_(std::move(selector)), listener_(listener) {}

std::vector<std::uint8_t> MatrixFollower::start() {
    model_ = RouterModel();
    matrixPath_.reset();
    matrixRead_ = false;
    labelBase_.reset();
    complete_ = false;
    identifiers_.clear();
    requested_.clear();
    queue_.clear();
    pending_ = Request{GlowKind::Node, {}};
    requested_.insert(pathText({}));
    return GlowEncoder::command(GlowCommandType::GetDirectory, GlowKind::Node, {});
}

std::string MatrixFollower::pendingText() const {
    if (!pending_) {
        return "";
    }
    return "GetDirectory on " + (pending_->path.empty() ? "the root" : pathText(pending_->path));
}

std::vector<std::string> MatrixFollower::identifiersOf(const GlowPath& path) const {
    std::vector<std::string> out;
    GlowPath prefix;
    for (const std::uint32_t number : path) {
        prefix.push_back(number);
        const auto it = identifiers_.find(pathText(prefix));
        out.push_back(it == identifiers_.end() ? std::string() : it->second);
    }
    return out;
}

void MatrixFollower::request(GlowKind kind, const GlowPath& path) {
    if (!requested_.insert(pathText(path)).second) {
        return;
    }
    queue_.push_back(Request{kind, path});
}

bool MatrixFollower::answers(const std::vector<GlowElement>& elements) const {
    return std::any_of(elements.begin(), elements.end(),
                       [this](const GlowElement& e) { return startsWith(e.path, pending_->path); });
}

bool MatrixFollower::handle(const std::vector<GlowElement>& elements,
                            std::vector<std::vector<std::uint8_t>>& requests, std::string& error) {
    for (const GlowElement& element : elements) {
        take(element);
    }
    if (pending_ && answers(elements)) {
        matrixRead_ = matrixRead_ || pending_->kind == GlowKind::Matrix;
        pending_.reset();
    }
    if (requested_.size() > kMaxWalkedNodes) {
        error = "gave up after " + std::to_string(kMaxWalkedNodes) +
                " nodes without finding the matrix";
        return false;
    }
    if (!pending_ && !queue_.empty()) {
        pending_ = queue_.front();
        queue_.pop_front();
        requests.push_back(
            GlowEncoder::command(GlowCommandType::GetDirectory, pending_->kind, pending_->path));
        return true;
    }
    if (pending_ || complete_) {
        return true;
    }
    if (!matrixPath_) {
        error = selector_.toString().empty()
                    ? std::string("the provider has no matrix")
                    : "the provider has no matrix '" + selector_.toString() + "'";
        return false;
    }
    if (!matrixRead_) {
        error = "the provider did not describe the matrix at " + model_.matrixPath;
        return false;
    }
    complete_ = true;
    listener_.onConnected(model_);
    return true;
}

void MatrixFollower::take(const GlowElement& element) {
    switch (element.kind) {
        case GlowKind::Node:
            takeNode(element);
            break;
        case GlowKind::Matrix:
            takeMatrix(element);
            break;
        case GlowKind::Parameter:
            takeParameter(element);
            break;
        case GlowKind::Command:
            break;
    }
}

void MatrixFollower::takeNode(const GlowElement& element) {
    if (element.identifier) {
        identifiers_[pathText(element.path)] = *element.identifier;
    }
    if (labelBase_ && element.path.size() == labelBase_->size() + 1 &&
        startsWith(element.path, *labelBase_) &&
        (element.path.back() == kTargetLabels || element.path.back() == kSourceLabels)) {
        request(GlowKind::Node, element.path);
        return;
    }
    if (!matrixPath_ && selector_.mayContain(element.path, identifiersOf(element.path))) {
        request(GlowKind::Node, element.path);
    }
}

void MatrixFollower::takeMatrix(const GlowElement& element) {
    if (element.identifier) {
        identifiers_[pathText(element.path)] = *element.identifier;
    }
    if (!matrixPath_ && selector_.matches(element.path, identifiersOf(element.path))) {
        matrixPath_ = element.path;
        model_.matrixPath = pathText(element.path);
        // The walk is over: only the matrix and its labels are read now.
        queue_.clear();
        request(GlowKind::Matrix, element.path);
    }
    if (!matrixPath_ || element.path != *matrixPath_) {
        return;
    }
    if (element.identifier) {
        model_.matrixIdentifier = *element.identifier;
    }
    if (element.matrix) {
        const GlowMatrixContents& m = *element.matrix;
        model_.targetCount = m.targetCount;
        model_.sourceCount = m.sourceCount;
        if (m.addressingMode == 0) {
            model_.targets.resize(static_cast<std::size_t>(m.targetCount));
            model_.sources.resize(static_cast<std::size_t>(m.sourceCount));
            for (std::int32_t i = 0; i < m.targetCount; ++i) {
                model_.targets[static_cast<std::size_t>(i)] = i;
            }
            for (std::int32_t i = 0; i < m.sourceCount; ++i) {
                model_.sources[static_cast<std::size_t>(i)] = i;
            }
        }
        if (!labelBase_ && !m.labels.empty()) {
            labelBase_ = m.labels.front().basePath;
            model_.labelSet = m.labels.front().description;
            request(GlowKind::Node, *labelBase_);
        }
    }
    if (element.targets) {
        model_.targets = *element.targets;
    }
    if (element.sources) {
        model_.sources = *element.sources;
    }
    if (element.connections) {
        for (const GlowConnection& connection : *element.connections) {
            applyConnection(connection);
        }
    }
}

void MatrixFollower::applyConnection(const GlowConnection& connection) {
    // A pending connection is the provider's future state, not yet on air.
    if (connection.disposition == GlowConnection::Disposition::Pending) {
        return;
    }
    std::vector<std::uint32_t>& current = model_.connections[connection.target];
    std::vector<std::uint32_t> next;
    switch (connection.operation) {
        case GlowConnection::Operation::Absolute:
            next = connection.sources;
            break;
        case GlowConnection::Operation::Connect:
            next = current;
            for (const std::uint32_t source : connection.sources) {
                if (std::find(next.begin(), next.end(), source) == next.end()) {
                    next.push_back(source);
                }
            }
            break;
        case GlowConnection::Operation::Disconnect:
            next = current;
            next.erase(std::remove_if(next.begin(), next.end(),
                                      [&](std::uint32_t s) {
                                          return std::find(connection.sources.begin(),
                                                           connection.sources.end(),
                                                           s) != connection.sources.end();
                                      }),
                       next.end());
            break;
    }
    if (next == current) {
        return;
    }
    current = next;
    if (complete_) {
        listener_.onConnectionChanged(connection.target, next);
    }
}

void MatrixFollower::takeParameter(const GlowElement& element) {
    if (!labelBase_ || element.path.size() != labelBase_->size() + 2 ||
        !startsWith(element.path, *labelBase_) || !element.value) {
        return;
    }
    const std::string* text = std::get_if<std::string>(&*element.value);
    if (text == nullptr) {
        return;
    }
    const std::uint32_t list = element.path[labelBase_->size()];
    const auto number = static_cast<std::int32_t>(element.path.back());
    if (list != kTargetLabels && list != kSourceLabels) {
        return;
    }
    auto& labels = list == kTargetLabels ? model_.targetLabels : model_.sourceLabels;
    const auto it = labels.find(number);
    if (it != labels.end() && it->second == *text) {
        return;
    }
    labels[number] = *text;
    if (complete_) {
        listener_.onLabelChanged(list == kTargetLabels ? EmberConsumerListener::Signal::Target
                                                       : EmberConsumerListener::Signal::Source,
                                 number, *text);
    }
}

}  // namespace ember
