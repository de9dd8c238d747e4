#include <gtest/gtest.h>

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
    EXPECT_FALSE(parse({"a", "b", "c", "d", "e", "f"}).accepted);
    EXPECT_FALSE(parse({"-T", "90", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-x", "in.ac3"}).accepted);
    EXPECT_FALSE(parse({"-"}).accepted);
    EXPECT_FALSE(parse({"/"}).accepted);
    EXPECT_FALSE(parse({"/x", "in.ac3"}).accepted);
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
        EXPECT_DOUBLE_EQ(parsed.options.target_seconds, target.seconds) << target.text;
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

}  // namespace
