#include <gtest/gtest.h>

#include "CommandLine.h"

using panelhost::CommandLine;
using panelhost::CommandWord;

namespace {

CommandLine parsed(const std::string& line) {
    std::string error;
    const auto command = CommandLine::parse(line, error);
    EXPECT_TRUE(command.has_value()) << line << ": " << error;
    return command.value_or(CommandLine{});
}

bool malformed(const std::string& line) {
    std::string error;
    const bool failed = !CommandLine::parse(line, error).has_value();
    EXPECT_TRUE(!failed || !error.empty()) << line;
    return failed;
}

using Texts = std::vector<std::string>;
using Numbers = std::vector<int>;

}  // namespace

TEST(CommandLine, ControlCommandsCarryPanelAndControl) {
    for (const auto& [line, word] : {std::pair{"CD '2' 'Cancel'", CommandWord::CD},
                                     std::pair{"CE '2' 'Cancel'", CommandWord::CE},
                                     std::pair{"CH '2' 'Cancel'", CommandWord::CH},
                                     std::pair{"CS '2' 'Cancel'", CommandWord::CS}}) {
        const CommandLine command = parsed(line);
        EXPECT_EQ(command.word, word);
        EXPECT_EQ(command.texts, (Texts{"2", "Cancel"}));
    }
    EXPECT_EQ(parsed("XI '1' 'alm_'").texts, (Texts{"1", "alm_"}));
}

TEST(CommandLine, NumericCommands) {
    EXPECT_EQ(parsed("AS").word, CommandWord::AS);
    EXPECT_EQ(parsed("ET 2 500").numbers, (Numbers{2, 500}));
    EXPECT_EQ(parsed("ET 2").numbers, (Numbers{2}));
    EXPECT_EQ(parsed("IP 57 211 212").numbers, (Numbers{57, 211, 212}));
    EXPECT_EQ(parsed("IU -5").numbers, (Numbers{-5}));
    EXPECT_EQ(parsed("RN 12 5 37").numbers, (Numbers{12, 5, 37}));

    const CommandLine plain = parsed("IR 57 211 212");
    EXPECT_EQ(plain.numbers, (Numbers{57, 211, 212}));
    EXPECT_FALSE(plain.add);
    const CommandLine added = parsed("RR 3 1 128 'ADD'");
    EXPECT_EQ(added.word, CommandWord::RR);
    EXPECT_EQ(added.numbers, (Numbers{3, 1, 128}));
    EXPECT_TRUE(added.add);
}

TEST(CommandLine, WritesTakeTheTextBetweenTheOuterApostrophes) {
    const CommandLine slot = parsed("IW 57 '2' 211 0");
    EXPECT_EQ(slot.numbers, (Numbers{57, 211, 0}));
    EXPECT_EQ(slot.texts, (Texts{"2"}));

    const CommandLine name = parsed("RM 12 5 37 'Studio' 1");
    EXPECT_EQ(name.numbers, (Numbers{12, 5, 37, 1}));
    EXPECT_EQ(name.texts, (Texts{"Studio"}));

    EXPECT_EQ(parsed("RM 12 5 37 'O'Brien's 2' 0").texts, (Texts{"O'Brien's 2"}));
    EXPECT_EQ(parsed("RM 12 5 37 'a' 0' 0").texts, (Texts{"a' 0"}));
    EXPECT_EQ(parsed("RM 12 5 37 '' 0").texts, (Texts{""}));
    EXPECT_EQ(parsed("IW 57 ''' 3 4' 211 0").texts, (Texts{"'' 3 4"}));
}

TEST(CommandLine, PutTextFindsPanelAndControlFromTheEnd) {
    const CommandLine command = parsed("TP 'text=Camera 1' '1' 'Names_1'");
    EXPECT_EQ(command.texts, (Texts{"text=Camera 1", "1", "Names_1"}));
    EXPECT_EQ(parsed("TP 'text=' '2' 'KB_1'").texts, (Texts{"text=", "2", "KB_1"}));
    EXPECT_EQ(parsed("TP 'text=it's 'x' 'y'' '1' 'Current'").texts,
              (Texts{"text=it's 'x' 'y'", "1", "Current"}));
}

TEST(CommandLine, TextGetFindsPanelFromTheFrontAndPropertyFromTheEnd) {
    EXPECT_EQ(parsed("TG '2' 'KB_1' 'text'").texts, (Texts{"2", "KB_1", "text"}));
    EXPECT_EQ(parsed("TG '2' 'KB_1' ''").texts, (Texts{"2", "KB_1", ""}));
}

TEST(CommandLine, PanelCommands) {
    EXPECT_EQ(parsed("PI '1' 'D:/panels/Selector.tovi_ui'").texts,
              (Texts{"1", "D:/panels/Selector.tovi_ui"}));
    EXPECT_EQ(parsed("PS '2' 'NameEdit.tovi_ui' 'x y'").texts,
              (Texts{"2", "NameEdit.tovi_ui", "x y"}));
    EXPECT_EQ(parsed("PI '1' '/home/o'neil/Selector.tovi_ui'").texts,
              (Texts{"1", "/home/o'neil/Selector.tovi_ui"}));
    EXPECT_EQ(parsed("PR '1'").texts, (Texts{"1"}));
    EXPECT_EQ(parsed("SD 'StC SDI Router'").texts, (Texts{"StC SDI Router"}));
    EXPECT_EQ(parsed("SD 'it's'").texts, (Texts{"it's"}));
}

TEST(CommandLine, MalformedLinesAreRefused) {
    for (const char* line : {"",
                             "A",
                             "ZZ 1",
                             "AS 1",
                             "ASX",
                             "ET",
                             "ET x",
                             "ET 1 2 3",
                             "ET  1",
                             "IP 57 211",
                             "IP 57 211 212 213",
                             "IR 57 211 212 'ADDX'",
                             "IU 99999999999",
                             "IW 57 2 211 0",
                             "IW 57 '2' 211",
                             "IW 57 '2' 211 2",
                             "RM 12 5 37 'x'",
                             "RM 12 5 'x' 0",
                             "RM 12 5 37 x 0",
                             "RN 12 5",
                             "RN +1 2 3",
                             "SD Router",
                             "SD '",
                             "PR '1",
                             "CD '2'",
                             "CD '2' Cancel",
                             "TG '2' 'KB_1'",
                             "TP 'text=x' '1'",
                             "PI '1'",
                             "XI '1'",
                             "CE 2 2",
                             "et 1 2",
                             "TG '2' 'KB_1' 'text' "}) {
        EXPECT_TRUE(malformed(line)) << line;
    }
}
