// Runs a built tool as a user would and captures what it did.
#pragma once

#include <string>
#include <vector>

#include "stream_builder.h"

namespace testkit {

struct RunResult {
    int status = -1;     // exit status, or -1 when the tool did not exit normally
    std::string out;     // standard output
    std::string err;     // standard error (the tools never write to it)
};

// The status of an unprivileged run whose user may not run the tool where it was built.
constexpr int cannot_run_unprivileged = 125;

// With `unprivileged`, a run by root drops to the user nobody first, so that file
// permissions bind the tool.
RunResult run_tool(const std::string& binary, const std::vector<std::string>& arguments,
                   bool unprivileged = false);

// run_tool, with a test failure when the tool wrote to standard error, which it never
// does.
RunResult run_checked(const std::string& binary, const std::vector<std::string>& arguments,
                      bool unprivileged = false);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// An input and an output path in a fresh folder.
struct ToolFiles {
    TempDir dir;
    std::string in = dir.path("in");
    std::string out = dir.path("out");
};

// A test of one tool, run as a user would, on files in a fresh folder.
class ToolTest : protected ToolFiles {
protected:
    explicit ToolTest(std::string binary) : binary_(std::move(binary)) {}
    RunResult run(const std::vector<std::string>& arguments, bool unprivileged = false) const {
        return run_checked(binary_, arguments, unprivileged);
    }

private:
    std::string binary_;
};

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

// ffmpeg judges written streams; tests that need it skip without it.
bool have_ffmpeg();
// The lines ffmpeg prints at level error while it decodes the file, or -1 when it fails.
int decoding_errors(const std::string& path);
// The playing time ffprobe gives the file, or -1.
double probed_seconds(const std::string& path);
// What ffmpeg decodes, with every CRC checked: the samples as 32-bit floats, the
// channels and rate of the stream, and the lines it printed at level error.
struct Decoded {
    std::vector<float> samples;
    std::string layout;  // "rate,channels", by ffprobe
    int error_lines = -1;
};
Decoded decode(const std::string& path);
// Runs the tool on `in` with a delay of three units of frame_seconds, and checks, by
// decoding, that the output is three units of exact zeros at the input's rate and
// channels, then the input as it decodes alone.
void expect_silent_units_decode_to_zeros(const std::string& tool, const std::string& in, double frame_seconds);

}  // namespace testkit
