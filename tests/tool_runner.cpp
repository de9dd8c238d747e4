#include "tool_runner.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

namespace testkit {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lenfit-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

RunResult run_tool(const std::string& binary, const std::vector<std::string>& arguments,
                   bool unprivileged) {
    TempDir capture;
    const std::string out_path = capture.path("stdout");
    const std::string err_path = capture.path("stderr");
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        constexpr uid_t nobody = 65534;
        if (unprivileged && geteuid() == 0) {
            if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
            if (access(binary.c_str(), X_OK) != 0) _exit(cannot_run_unprivileged);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    RunResult result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

RunResult run_checked(const std::string& binary, const std::vector<std::string>& arguments,
                      bool unprivileged) {
    RunResult result = run_tool(binary, arguments, unprivileged);
    EXPECT_EQ(result.err, "") << binary << " wrote to standard error";
    return result;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
    const std::string text = slurp(path);
    return Bytes(text.begin(), text.end());
}

bool file_exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

bool have_ffmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0; }

namespace {

// The lines a command prints, or an empty list with ok false when it fails.
std::vector<std::string> command_lines(const std::string& command, bool& ok) {
    std::vector<std::string> lines;
    std::FILE* pipe = popen(command.c_str(), "r");
    ok = pipe != nullptr;
    if (!ok) return lines;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) lines.emplace_back(line);
    ok = pclose(pipe) == 0;
    return lines;
}

}  // namespace

int decoding_errors(const std::string& path) {
    bool ok = false;
    const auto lines = command_lines("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", ok);
    return ok ? static_cast<int>(lines.size()) : -1;
}

double probed_seconds(const std::string& path) {
    bool ok = false;
    const auto lines = command_lines(
        "ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 '" + path + "'", ok);
    return ok && lines.size() == 1 ? std::atof(lines[0].c_str()) : -1.0;
}

Decoded decode(const std::string& path) {
    Decoded decoded;
    const TempDir dir;
    const std::string raw = dir.path("samples");
    const std::string errors = dir.path("errors");
    const std::string command = "ffmpeg -nostdin -v error -err_detect crccheck -i '" + path + "' -f f32le '" + raw +
                                "' 2>'" + errors + "'";
    if (std::system(command.c_str()) != 0) return decoded;
    const Bytes bytes = read_file(raw);
    decoded.samples.resize(bytes.size() / sizeof(float));
    std::memcpy(decoded.samples.data(), bytes.data(), decoded.samples.size() * sizeof(float));
    bool ok = false;
    const Bytes error_text = read_file(errors);
    decoded.error_lines = static_cast<int>(std::count(error_text.begin(), error_text.end(), '\n'));
    const auto layout = command_lines(
        "ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 '" + path + "'", ok);
    if (ok && layout.size() == 1) decoded.layout = layout[0];
    return decoded;
}

void expect_silent_units_decode_to_zeros(const std::string& tool, const std::string& in, double frame_seconds) {
    SCOPED_TRACE(in);
    TempDir dir;
    // 2.6 units: three silent units.
    const RunResult result = run_checked(tool, {"-d", std::to_string(frame_seconds * 2600.0), "-o", dir.path("out"), in});
    ASSERT_EQ(result.status, 0) << result.out;
    ASSERT_NE(result.out.find(" is 3 silent frame(s) at the start"), std::string::npos) << result.out;

    const Decoded alone = decode(in);
    const Decoded delayed = decode(dir.path("out"));
    EXPECT_EQ(delayed.error_lines, 0);
    ASSERT_FALSE(alone.layout.empty());
    EXPECT_EQ(delayed.layout, alone.layout);
    const std::size_t channels = std::stoul(alone.layout.substr(alone.layout.find(',') + 1));
    const auto samples_per_unit = static_cast<std::size_t>(std::lround(frame_seconds * std::stod(alone.layout)));
    const std::size_t silent = 3 * samples_per_unit * channels;
    ASSERT_EQ(delayed.samples.size(), alone.samples.size() + silent);
    const auto rest = delayed.samples.begin() + static_cast<long>(silent);
    EXPECT_TRUE(std::all_of(delayed.samples.begin(), rest, [](float sample) { return sample == 0.0f; }));
    EXPECT_TRUE(std::equal(alone.samples.begin(), alone.samples.end(), rest));
}

}  // namespace testkit
