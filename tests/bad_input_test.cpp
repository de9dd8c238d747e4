// The tools on input a user or a broken file may give them: a clear message, the
// right status, and no file damaged.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Bytes;
using testkit::RunResult;

using testkit::FormatCase;

// A stream of another format than the tool's.
Bytes other_format(const FormatCase& format, std::size_t frames) {
    for (const FormatCase& other : testkit::format_cases()) {
        if (other.tag != std::string(format.tag)) return other.sample_stream(frames);
    }
    return {};
}

std::string with_path(const char* format, const std::string& path) {
    std::string text = format;
    return text.replace(text.find("%s"), 2, path);
}

class BadInput : public ::testing::TestWithParam<FormatCase>, protected testkit::ToolTest {
protected:
    BadInput() : ToolTest(testkit::tool_path(GetParam())) {}
    const FormatCase& tool = GetParam();
    const std::size_t frame_bytes = tool.sample_stream(1).size();
    const double frame_seconds = tool.unit_seconds(tool.sample_stream(1));
    std::string description() {
        testkit::write_file(dir.path("probe"), tool.sample_stream(20));
        const std::string text = run({dir.path("probe")}).out;
        return text.substr(0, text.find("Found"));
    }
};

TEST_P(BadInput, NotAStreamOfTheFormat) {
    std::mt19937 random(7);
    Bytes noise(50000);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    const Bytes other = other_format(tool, 100);
    // The first frame must begin within the first 10000 bytes.
    Bytes late = testkit::junk(10000);
    testkit::append(late, tool.sample_stream(30));
    for (const Bytes& content : {Bytes(), testkit::junk(9999), noise, other, late}) {
        testkit::write_file(in, content);
        const RunResult result = run({"-t", "10", "-o", out, in});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, with_path(tool.not_this_format, in));
        EXPECT_EQ(testkit::read_file(in), content);
        EXPECT_TRUE(testkit::file_exists(out) && testkit::read_file(out).empty());
    }
}

TEST_P(BadInput, TooShortAndJustLongEnough) {
    const std::size_t frames = 10000 / frame_bytes;
    Bytes short_file = tool.sample_stream(frames);
    testkit::write_file(in, short_file);
    RunResult result = run({in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, description() + "Error in reading file " + in + "\n");

    Bytes exact = testkit::junk(10000 - short_file.size());
    testkit::append(exact, short_file);
    testkit::write_file(in, exact);
    result = run({"-o", out, in});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(testkit::read_file(out), short_file);
}

TEST_P(BadInput, MissingAndDirectoryInputs) {
    RunResult result = run({"-o", out, dir.path("missing")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + dir.path("missing") + " could not be opened\n");
    EXPECT_FALSE(testkit::file_exists(out));

    result = run({"-o", out, dir.root()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + dir.root() + " could not be opened\n");
    EXPECT_FALSE(testkit::file_exists(out));
}

// Runs as nobody when the tests run as root, in a folder nobody may enter.
TEST_P(BadInput, UnreadableInput) {
    ASSERT_EQ(chmod(dir.root().c_str(), 0777), 0);
    testkit::write_file(in, tool.sample_stream(20));
    ASSERT_EQ(chmod(in.c_str(), 0), 0);
    const RunResult result = run({"-o", out, in}, true);
    if (result.status == testkit::cannot_run_unprivileged) GTEST_SKIP() << "nobody may not run the tool here";
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + in + " could not be opened\n");
    EXPECT_FALSE(testkit::file_exists(out));
}

TEST_P(BadInput, OutputThatCannotBeOpenedOrWritten) {
    const Bytes stream = tool.sample_stream(100);
    testkit::write_file(in, stream);
    const std::string nowhere = dir.path("missing/out");
    RunResult result = run({"-o", nowhere, in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + nowhere + " could not be opened\n");

    result = run({"-o", "/dev/full", in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.rfind(description(), 0), 0u);
    EXPECT_EQ(result.out.substr(result.out.size() - 32), "Error in writing file /dev/full\n") << result.out;
    EXPECT_EQ(testkit::read_file(in), stream);
}

TEST_P(BadInput, OutputInAFolderThatCannotBeWritten) {
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    testkit::write_file(in, tool.sample_stream(100));
    ASSERT_EQ(chmod(in.c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.path("locked").c_str(), 0555), 0);
    const RunResult result = run({"-o", dir.path("locked/out"), in}, true);
    if (result.status == testkit::cannot_run_unprivileged) GTEST_SKIP() << "nobody may not run the tool here";
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + dir.path("locked/out") + " could not be opened\n");
}

TEST_P(BadInput, TheInputIsNeverTheOutput) {
    const Bytes stream = tool.sample_stream(100);
    testkit::write_file(in, stream);
    ASSERT_EQ(link(in.c_str(), dir.path("hard").c_str()), 0);
    ASSERT_EQ(symlink(in.c_str(), dir.path("soft").c_str()), 0);
    for (const std::string& target : {in, dir.path("hard"), dir.path("soft")}) {
        const RunResult result = run({"-o", target, in});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "File " + target + " is the input file and cannot be overwritten\n");
        EXPECT_EQ(testkit::read_file(in), stream);
    }
}

TEST_P(BadInput, AbsurdTargetsCreateNothingAndNegativeOnesDropEverything) {
    testkit::write_file(in, tool.sample_stream(100));
    for (const std::vector<std::string>& absurd :
         {std::vector<std::string>{"-t", "1e300"}, {"-d", "1e9"}, {"-r", "25:24", "-t", "90"}}) {
        std::vector<std::string> arguments = absurd;
        arguments.insert(arguments.end(), {"-o", out, in});
        const RunResult result = run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out.rfind("Usage: " + testkit::tool_name(tool), 0), 0u);
        EXPECT_FALSE(testkit::file_exists(out));
    }
    const RunResult negative = run({"-t", "-5", "-o", out, in});
    EXPECT_EQ(negative.status, 0);
    EXPECT_NE(negative.out.find("Removed 100 frames, actual length now is 00:00:00.000 in 0 frames.\n"),
              std::string::npos)
        << negative.out;
}

TEST_P(BadInput, InputFromAPipe) {
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes stream = tool.sample_stream(30);
    const pid_t writer = fork();
    if (writer == 0) {
        const int fd = open(fifo.c_str(), O_WRONLY);
        const ssize_t ignored = write(fd, stream.data(), stream.size());
        (void)ignored;
        _exit(0);
    }
    const RunResult result = run({"-o", out, fifo});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, description() + "Error in determining the size of file " + fifo + "\n");
}

TEST_P(BadInput, PathsLongerThanAThousandCharacters) {
    std::string folder = dir.root();
    while (folder.size() < 1500) {
        folder += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    const Bytes stream = tool.sample_stream(40);
    testkit::write_file(folder + "/in", stream);
    const RunResult result = run({"-o", folder + "/out", folder + "/in"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(testkit::read_file(folder + "/out"), stream);
}

TEST_P(BadInput, SparseInputOfOverTwoGigabytes) {
    // Frames at the start and at the end, a hole of zeros between: the walk steps over
    // more damage than 32 bits can count.
    const std::int64_t size = (2ll << 30) + 20 * 1792;
    const Bytes head = tool.sample_stream(20);
    const Bytes tail = tool.sample_stream(20);
    const int fd = open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const bool written = ftruncate(fd, size) == 0 &&
                         pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                         pwrite(fd, tail.data(), tail.size(), size - static_cast<std::int64_t>(tail.size())) ==
                             static_cast<ssize_t>(tail.size());
    struct stat status;
    fstat(fd, &status);
    close(fd);
    if (!written || status.st_blocks * 512 > (64 << 20)) GTEST_SKIP() << "this filesystem makes no sparse files";

    const RunResult result = run({in});
    EXPECT_EQ(result.status, 0);
    // Where nothing vouches for a unit that zeros follow, the head's last one is damage.
    const int frames = tool.keeps_unit_before_junk ? 40 : 39;
    const std::int64_t damage = size - frames * static_cast<std::int64_t>(frame_bytes);
    const double seconds = frames * frame_seconds;
    char expected[300];
    std::snprintf(expected, sizeof expected,
                  "Found 0 leading and 0 trailing junk bytes.\n"
                  "Found %lld damaged bytes in 1 place(s); they are left out.\n"
                  "Original length of audio is %g seconds, or 00:00:0%.3f, in %d frames\n",
                  static_cast<long long>(damage), seconds, seconds, frames);
    EXPECT_EQ(result.out, description() + expected);
}

INSTANTIATE_TEST_SUITE_P(EveryTool, BadInput, ::testing::ValuesIn(testkit::format_cases()),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return testkit::tool_name(info.param);
                         });

}  // namespace
