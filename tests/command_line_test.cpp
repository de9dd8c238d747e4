#include <gtest/gtest.h>

#include <vector>

#include "common/lenfit.h"

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

    // -t5 takes the next argument as its value, leaving no input path.
    const Parsed glued = parse({"-t5", "in.ac3"});
    ASSERT_TRUE(glued.accepted);
    EXPECT_EQ(glued.options.target_seconds, 0.0);
    EXPECT_EQ(glued.options.input_path, "");
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

TEST(CommandLine, TargetTextWithoutANumberIsNoTarget) {
    const Parsed parsed = parse({"-t", "abc", "in.ac3"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.target_seconds, 0.0);
    EXPECT_EQ(parse({"-t", "  12.5e1xyz", "in.ac3"}).options.target_seconds, 125.0);
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
