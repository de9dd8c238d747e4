#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/command_line.h"

namespace {

struct Parsed {
    bool accepted;
    lenfit::RunOptions options;
};

Parsed parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "ac3lenfit");
    Parsed parsed;
    parsed.accepted = lenfit::parse_arguments(static_cast<int>(arguments.size()),
                                              arguments.data(), parsed.options);
    return parsed;
}

TEST(CommandLine, AcceptsTargetOutputAndInputWithEitherOptionMark) {
    for (const char* mark : {"-", "/"}) {
        const std::string t = std::string(mark) + "t";
        const std::string o = std::string(mark) + "o";
        const Parsed parsed = parse({t.c_str(), "90", o.c_str(), "out.ac3", "in.ac3"});
        ASSERT_TRUE(parsed.accepted) << mark;
        EXPECT_EQ(parsed.options.target_seconds, 90.0);
        EXPECT_EQ(parsed.options.output_path, "out.ac3");
        EXPECT_EQ(parsed.options.input_path, "in.ac3");
    }
}

TEST(CommandLine, RejectsBadArgumentCountsAndLetters) {
    EXPECT_FALSE(parse({}).accepted);
    EXPECT_FALSE(parse({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}).accepted);
    EXPECT_TRUE(parse({"-r", "25:24", "-d", "-80", "-k", "-e", "1-2", "-o", "out.ac3", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-T", "90", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-x", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-"}).accepted);
    EXPECT_FALSE(parse({"/"}).accepted);
    EXPECT_FALSE(parse({"/x", "in.ac3"}).accepted);
}

TEST(CommandLine, KeepTheTimelineTakesNoValueAndMayBeRepeated) {
    EXPECT_FALSE(parse({"in.ac3"}).options.keep_timeline);
    for (const auto& arguments : std::vector<std::vector<const char*>>{
             {"-k", "in.ac3"}, {"in.ac3", "/k"}, {"-k", "-k", "-t", "90", "in.ac3"}, {"-keep", "in.ac3"}}) {
        const Parsed parsed = parse(arguments);
        ASSERT_TRUE(parsed.accepted);
        EXPECT_TRUE(parsed.options.keep_timeline);
        EXPECT_EQ(parsed.options.input_path, "in.ac3");
    }
}

TEST(CommandLine, OptionWithoutValueIsRejected) {
    EXPECT_FALSE(parse({"in.ac3", "-t"}).accepted);
    EXPECT_FALSE(parse({"in.ac3", "-o"}).accepted);
    EXPECT_FALSE(parse({"in.ac3", "/o"}).accepted);
}

TEST(CommandLine, OnlyTheSecondCharacterOfADashOptionCounts) {
    const Parsed parsed = parse({"-output", "out.ac3", "in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.output_path, "out.ac3");

    // -t5 takes the next argument as its value, which is no target.
    EXPECT_FALSE(parse({"-t5", "in.ac3"}).accepted);
    const Parsed glued = parse({"-t5", "7", "in.ac3"});
    ASSERT_TRUE(glued.accepted);
    EXPECT_EQ(glued.options.target_seconds, 7.0);
}

TEST(CommandLine, ValuesAreTakenWhateverTheyLookLike) {
    const Parsed parsed = parse({"-t", "-5", "-o", "-t", "in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.target_seconds, -5.0);
    EXPECT_EQ(parsed.options.output_path, "-t");
}

TEST(CommandLine, LaterArgumentsWin) {
    const Parsed targets = parse({"-t", "90", "-t", "120", "in.ac3"});
    ASSERT_TRUE(targets.accepted);
    EXPECT_EQ(targets.options.target_seconds, 120.0);
    const Parsed inputs = parse({"a.ac3", "b.ac3"});
    ASSERT_TRUE(inputs.accepted);
    EXPECT_EQ(inputs.options.input_path, "b.ac3");
}

TEST(CommandLine, TargetsAreNumbersOrTheClockTimesTheToolsPrint) {
    const struct {
        const char* text;
        double seconds;
    } accepted[] = {
        {"90", 90},          {"  12.5e1", 125},        {"1.", 1},          {".5", 0.5},
        {"+3", 3},           {"-5", -5},               {"2E-1", 0.2},      {"1:30:00", 5400},
        {"90:00", 5400},     {"01:29:59.520", 5399.52}, {"00:01:60.000", 120}, {"0:00:30", 30},
        {"0", 0},
    };
    for (const auto& target : accepted) {
        const Parsed parsed = parse({"-t", target.text, "in.ac3"});
        ASSERT_TRUE(parsed.accepted) << target.text;
        EXPECT_DOUBLE_EQ(parsed.options.target_seconds.value_or(-1.0), target.seconds) << target.text;
    }
    for (const char* text : {"abc", "90s", "1:30:00x", "", "1,5", "0x10", "inf", "nan", "1:-5", "::", "1:",
                             "1:2:3:4", ".", "1e", "1:2.5:3", "12.5e1xyz", " "}) {
        EXPECT_FALSE(parse({"-t", text, "in.ac3"}).accepted) << "'" << text << "'";
    }
}

TEST(CommandLine, NonFiniteOrHugeTargetsAreRejected) {
    for (const char* value : {"nan", "inf", "-inf", "1e300", "1e400", "1e15", "-1e15"}) {
        EXPECT_FALSE(parse({"-t", value, "in.ac3"}).accepted) << value;
    }
    EXPECT_TRUE(parse({"-t", "999999999999999", "in.ac3"}).accepted);
    EXPECT_TRUE(parse({"-t", "0", "in.ac3"}).accepted);
}

TEST(CommandLine, LongSlashArgumentsArePaths) {
    const Parsed parsed = parse({"-o", "/tmp/out.ac3", "/data/in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.input_path, "/data/in.ac3");
    EXPECT_EQ(parsed.options.output_path, "/tmp/out.ac3");
}

TEST(CommandLine, PathsOfAnyLengthAreKeptWhole) {
    const std::string long_path(5000, 'p');
    const Parsed parsed = parse({"-o", long_path.c_str(), long_path.c_str()});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.input_path, long_path);
    EXPECT_EQ(parsed.options.output_path, long_path);
}

TEST(CommandLine, EmptyOutputMeansNoOutput) {
    const Parsed parsed = parse({"-o", "", "in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_TRUE(parsed.options.output_path.empty());
}

TEST(CommandLine, DelaysAreNumbersWithOrWithoutMs) {
    const struct {
        const char* text;
        double ms;
    } accepted[] = {{"200", 200}, {"-83", -83}, {"+40ms", 40}, {"  12.5ms", 12.5}, {".5", 0.5},
                    {"1e3ms", 1000}, {"0", 0}, {"-0.0ms", 0}, {"999999999", 999999999}};
    for (const auto& delay : accepted) {
        const Parsed parsed = parse({"-d", delay.text, "in.ac3"});
        ASSERT_TRUE(parsed.accepted) << delay.text;
        EXPECT_DOUBLE_EQ(parsed.options.delay_ms.value_or(-1.0), delay.ms) << delay.text;
    }
    for (const char* text : {"", "ms", "200 ms", "200MS", "200s", "1:30", "nan", "inf", "1e9", "-1e9", "200ms ",
                             "0x10", "--5", "5msms"}) {
        EXPECT_FALSE(parse({"-d", text, "in.ac3"}).accepted) << "'" << text << "'";
    }
    // The last one counts; a bad one anywhere is a bad command line.
    EXPECT_EQ(parse({"/d", "100", "-d", "-40", "in.ac3"}).options.delay_ms, -40.0);
    EXPECT_FALSE(parse({"-d", "x", "-d", "40", "in.ac3"}).accepted);
}

TEST(CommandLine, RateChangesAreTwoRatesAndNeverComeWithATarget) {
    const struct {
        const char* text;
        double from, to;
    } accepted[] = {{"25:24", 25, 24},
                    {"23.976:25", 24000.0 / 1001, 25},
                    {"29.97:59.940", 30000.0 / 1001, 60000.0 / 1001},
                    {"47.952:119.88", 48000.0 / 1001, 120000.0 / 1001},
                    {"2997/100:25", 29.97, 25},
                    {"24000/1001:25.", 24000.0 / 1001, 25},
                    {".5:1000", 0.5, 1000},
                    {"0.001:1000", 0.001, 1000},
                    {"1000:1/1000", 1000, 0.001},
                    {"23.975:25", 23.975, 25}};
    for (const auto& rate : accepted) {
        const Parsed parsed = parse({"-r", rate.text, "in.ac3"});
        ASSERT_TRUE(parsed.accepted) << rate.text;
        ASSERT_TRUE(parsed.options.rate) << rate.text;
        EXPECT_EQ(parsed.options.rate->from, rate.from) << rate.text;
        EXPECT_EQ(parsed.options.rate->to, rate.to) << rate.text;
    }
    for (const char* text : {"25", "25:", ":25", "25:24:23", "0:25", "25:0", "-25:24", "+25:24", "25e0:24",
                             "25 :24", "25: 24", " 25:24", "1001:25", "25/0:24", "/2:24", "2/:24", "2.5/1:24",
                             "25,0:24", "nan:24", "", "1000:0.000000000000000000000000001", "0.0009:25",
                             "25:1/1001"}) {
        EXPECT_FALSE(parse({"-r", text, "in.ac3"}).accepted) << "'" << text << "'";
    }
    EXPECT_FALSE(parse({"-r", "25:24", "-t", "90", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-t", "0", "/r", "25:24", "in.ac3"}).accepted);
    const Parsed last = parse({"-r", "25:24", "-r", "24:25", "in.ac3"});
    ASSERT_TRUE(last.options.rate);
    EXPECT_EQ(last.options.rate->from, 24.0);
    EXPECT_FALSE(parse({"-r", "x", "-r", "24:25", "in.ac3"}).accepted);
}

TEST(CommandLine, EditListsAreCutsAndSilencesInOrder) {
    const Parsed parsed = parse({"/e", ".5+0:01.5,10:00-12:30,30:00+2,30:00-45:00.25,1:02:03.5-", "in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    ASSERT_TRUE(parsed.options.edits);
    const lenfit::EditList& edits = *parsed.options.edits;
    ASSERT_EQ(edits.size(), 5u);
    EXPECT_FALSE(edits[0].cut);
    EXPECT_EQ(edits[0].at, 0.5);
    EXPECT_EQ(edits[0].seconds, 1.5);
    EXPECT_TRUE(edits[1].cut);
    EXPECT_EQ(edits[1].at, 600.0);
    EXPECT_EQ(edits[1].end, 750.0);
    EXPECT_FALSE(edits[2].cut);
    EXPECT_EQ(edits[2].at, 1800.0);
    EXPECT_EQ(edits[3].at, 1800.0);  // an insertion's end is its start
    EXPECT_EQ(edits[3].end, 2700.25);
    EXPECT_EQ(edits[4].at, 3723.5);
    EXPECT_TRUE(std::isinf(edits[4].end));
    EXPECT_TRUE(parse({"-e", "12.+3", "in.ac3"}).accepted);
    EXPECT_TRUE(parse({"-e", "0+999999999.9", "in.ac3"}).accepted);

    for (const char* text : {"", ",", "1-2,", ",1-2", "1 -2", "1-2 ", "-1-2", "1--2", "1-+2", "2-1", "1-1",
                             "1-,2-3", "1e3-2e3", "+1+2", "1-2,1.5-3", "1+2,0.5+1", "1:2:3:4-5", "1-1000000000",
                             "0x10-20", "1,2", "1-2-3", "1+", "+1", "1-2,3+", "nan-5", "inf-", "1:-2", "1-2;3-4"}) {
        EXPECT_FALSE(parse({"-e", text, "in.ac3"}).accepted) << "'" << text << "'";
    }
    // The last one counts; a bad one anywhere is a bad command line.
    const Parsed last = parse({"-e", "1-2", "-e", "5+1", "in.ac3"});
    ASSERT_TRUE(last.accepted);
    ASSERT_EQ(last.options.edits->size(), 1u);
    EXPECT_FALSE(last.options.edits->front().cut);
    EXPECT_FALSE(parse({"-e", "2-1", "-e", "5+1", "in.ac3"}).accepted);
}

}  // namespace
