// Counts heap allocations made by the command set, with a replaced global
// operator new. Lines of a fixed format and short texts must not allocate;
// a host answer is copied once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "TestScript.h"

namespace {
int gAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A host that answers every reading command with one fixed text and
// allocates nothing itself.
class FixedAnswerHost : public tovi_client_callback {
public:
    char answer[128] = "";
    int lines = 0;
    int handBacks = 0;

    void* deliver(void* data, int type) override {
        if (type == 5) {
            ++handBacks;
            return nullptr;
        }
        ++lines;
        return data == nullptr ? nullptr : answer;
    }
};

class Allocations : public ::testing::Test {
protected:
    FixedAnswerHost host;
    TestScript script{&host, "D:/panels"};
    int before = 0;

    void start() { before = gAllocations; }
    int made() const { return gAllocations - before; }
};

TEST_F(Allocations, FixedFormatAndShortTextLinesAllocateNothing) {
    const tovi_string editor("2"), control("NamesetName"), name("Camera 12 Wide");
    start();
    script.startTimer(2, 500);
    script.stopTimer(1);
    script.registerInfodriver(57, 211, 212, true);
    script.pollInfodriver(57, 211, 212);
    script.unregisterInfodriver(57);
    script.registerRouter(12, 1, 128, false);
    script.disableControl(editor, control);
    script.putProperty("statesheet", "ZRSourceDeselected", editor, control);
    script.putText("button.001=released", editor, "SrcGroup");
    script.writeInfodriver(57, "2", 211, false);
    script.loadPanel("1", "Selector.tovi_ui", "");
    EXPECT_EQ(made(), 0);
    EXPECT_EQ(host.lines, 11);
}

TEST_F(Allocations, WriteNameOfASixteenCharacterNameAllocatesNothing) {
    const tovi_string name("Camera 12 Wide 1");
    start();
    script.writeName(12, 5, 37, name, false);
    EXPECT_EQ(made(), 0);
}

TEST_F(Allocations, AnswersAreCopiedOnce) {
    tovi_string name;
    std::strcpy(host.answer, "Sixteen chars ok");
    start();
    script.readName(12, 5, 37, name);
    EXPECT_EQ(made(), 0);  // a short name stays inline

    std::strcpy(host.answer, "a name longer than the inline capacity");
    start();
    script.readName(12, 5, 37, name);
    EXPECT_EQ(made(), 1);

    tovi_string value;
    std::strcpy(host.answer, "text=a typed text longer than inline storage");
    start();
    EXPECT_TRUE(script.textGet("text", "2", "KB_1", value));
    EXPECT_EQ(made(), 1);

    std::strcpy(host.answer, "57 3");
    int device = 0;
    start();
    EXPECT_TRUE(script.findDevice("StC SDI Router", &device, nullptr));
    EXPECT_EQ(made(), 1);  // the parse's own copy of the answer
    EXPECT_EQ(device, 57);
    EXPECT_EQ(host.handBacks, 4);
}

}  // namespace
