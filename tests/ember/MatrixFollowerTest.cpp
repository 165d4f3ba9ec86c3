// The tree walk and the model of MatrixFollower, fed elements directly:
// what the independent provider cannot show (N-to-N operations, pending and
// locked dispositions, a non-linear matrix) and the walk's choices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlowDecoder.h"
#include "MatrixFollower.h"

namespace ember {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::StrictMock;

class MockListener : public EmberConsumerListener {
  public:
    MOCK_METHOD(void, onConnected, (const RouterModel&), (override));
    MOCK_METHOD(void, onDisconnected, (const std::string&), (override));
    MOCK_METHOD(void, onLabelChanged, (Signal, std::int32_t, const std::string&), (override));
    MOCK_METHOD(void, onConnectionChanged, (std::int32_t, const std::vector<std::uint32_t>&),
                (override));
};

GlowElement node(GlowPath path, std::string identifier) {
    GlowElement e;
    e.path = std::move(path);
    e.identifier = std::move(identifier);
    return e;
}

GlowElement matrix(GlowPath path, std::string identifier) {
    GlowElement e = node(std::move(path), std::move(identifier));
    e.kind = GlowKind::Matrix;
    e.matrix = GlowMatrixContents{};
    e.matrix->type = 2;
    e.matrix->addressingMode = 1;
    e.matrix->targetCount = 2;
    e.matrix->sourceCount = 3;
    return e;
}

GlowConnection connection(std::int32_t target, std::vector<std::uint32_t> sources,
                          GlowConnection::Operation operation,
                          GlowConnection::Disposition disposition) {
    GlowConnection c;
    c.target = target;
    c.sources = std::move(sources);
    c.operation = operation;
    c.disposition = disposition;
    return c;
}

// The path each request asks a GetDirectory for.
std::vector<std::string> requested(const std::vector<std::vector<std::uint8_t>>& requests) {
    std::vector<std::string> paths;
    for (const auto& request : requests) {
        std::vector<GlowElement> elements;
        std::string error;
        EXPECT_TRUE(GlowDecoder::decode(request, elements, error)) << error;
        paths.push_back(pathText(elements.back().path));
    }
    return paths;
}

struct Walk {
    StrictMock<MockListener> listener;
    std::vector<std::vector<std::uint8_t>> requests;
    std::string error;

    // Feeds one answer and returns the path asked for next ("" for none).
    std::string answer(MatrixFollower& follower, const std::vector<GlowElement>& elements) {
        requests.clear();
        EXPECT_TRUE(follower.handle(elements, requests, error)) << error;
        const auto paths = requested(requests);
        return paths.empty() ? "" : paths.front();
    }
};

TEST(MatrixFollower, WalksByIdentifiersThenKeepsTheModelOfAnNToNMatrix) {
    MatrixSelector selector;
    std::string error;
    ASSERT_TRUE(MatrixSelector::parse("studio.router", selector, error));
    Walk walk;
    MatrixFollower follower(selector, walk.listener);
    follower.start();
    // Only the node on the way is opened; "other" is not.
    EXPECT_EQ(walk.answer(follower, {node({0}, "other"), node({1}, "studio")}), "1");
    EXPECT_EQ(walk.answer(follower, {matrix({1, 4}, "other"), matrix({1, 5}, "router")}), "1.5");

    GlowElement read = matrix({1, 5}, "router");
    read.targets = std::vector<std::int32_t>{10, 20};
    read.sources = std::vector<std::int32_t>{7, 8, 9};
    read.connections = std::vector<GlowConnection>{connection(
        10, {7, 8}, GlowConnection::Operation::Absolute, GlowConnection::Disposition::Tally)};
    RouterModel model;
    EXPECT_CALL(walk.listener, onConnected(_)).WillOnce(::testing::SaveArg<0>(&model));
    EXPECT_EQ(walk.answer(follower, {read}), "");
    EXPECT_EQ(model.matrixPath, "1.5");
    EXPECT_THAT(model.targets, ElementsAre(10, 20));
    EXPECT_THAT(model.sources, ElementsAre(7, 8, 9));
    EXPECT_THAT(model.connections.at(10), ElementsAre(7, 8));

    {
        InSequence order;
        EXPECT_CALL(walk.listener, onConnectionChanged(10, ElementsAre(7, 8, 9)));
        EXPECT_CALL(walk.listener, onConnectionChanged(10, ElementsAre(9)));
        EXPECT_CALL(walk.listener, onConnectionChanged(20, ElementsAre(8)));
    }
    GlowElement update = node({1, 5}, "router");
    update.kind = GlowKind::Matrix;
    update.identifier.reset();
    update.connections =
        std::vector<GlowConnection>{connection(10, {9}, GlowConnection::Operation::Connect,
                                               GlowConnection::Disposition::Modified),
                                    // The provider's future state is not yet the crosspoint on air.
                                    connection(10, {7}, GlowConnection::Operation::Absolute,
                                               GlowConnection::Disposition::Pending),
                                    connection(10, {7, 8}, GlowConnection::Operation::Disconnect,
                                               GlowConnection::Disposition::Modified),
                                    // A locked target still tells its current sources: no change
                                    // for target 10, a first crosspoint for target 20.
                                    connection(10, {9}, GlowConnection::Operation::Absolute,
                                               GlowConnection::Disposition::Locked),
                                    connection(20, {8}, GlowConnection::Operation::Absolute,
                                               GlowConnection::Disposition::Locked)};
    EXPECT_EQ(walk.answer(follower, {update}), "");
}

TEST(MatrixFollower, AMissingMatrixEndsTheWalkWithTheReason) {
    MatrixSelector selector;
    std::string error;
    ASSERT_TRUE(MatrixSelector::parse("0.7", selector, error));
    StrictMock<MockListener> listener;
    MatrixFollower follower(selector, listener);
    follower.start();
    std::vector<std::vector<std::uint8_t>> requests;
    ASSERT_TRUE(follower.handle({node({0}, "studio"), node({1}, "spare")}, requests, error));
    EXPECT_THAT(requested(requests), ElementsAre("0"));
    requests.clear();
    EXPECT_FALSE(follower.handle({node({0, 1}, "a")}, requests, error));
    EXPECT_EQ(error, "the provider has no matrix '0.7'");
}

}  // namespace
}  // namespace ember
