// The run sequence of both tools: command line, open, probe, estimate and, when an
// output file is named, the scaling pass.
#include <fcntl.h>
#include <sys/stat.h>

#include "lenfit.h"

namespace lenfit {

namespace {

std::FILE* open_input(const std::string& path) {
    std::FILE* input = std::fopen(path.c_str(), "rb");
    struct stat status;
    if (input == nullptr || fstat(fileno(input), &status) != 0 || S_ISDIR(status.st_mode)) {
        fail_with_path("File %s could not be opened\n", path);
    }
    // Every read goes to a buffer of our own, large enough to need no second one.
    std::setvbuf(input, nullptr, _IONBF, 0);
    // The input is read front to back, once or twice: ask for a large read-ahead.
    posix_fadvise(fileno(input), 0, 0, POSIX_FADV_SEQUENTIAL);
    return input;
}

// Opening the input itself for writing would empty it before it is read.
void refuse_to_overwrite_input(std::FILE* input, const std::string& output_path) {
    struct stat input_status;
    struct stat output_status;
    if (fstat(fileno(input), &input_status) != 0) return;
    if (stat(output_path.c_str(), &output_status) != 0) return;
    if (input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino) {
        fail_with_path("File %s is the input file and cannot be overwritten\n", output_path);
    }
}

std::FILE* open_output(std::FILE* input, const std::string& path) {
    refuse_to_overwrite_input(input, path);
    std::FILE* output = std::fopen(path.c_str(), "wb");
    if (output == nullptr) fail_with_path("File %s could not be opened\n", path);
    std::setvbuf(output, nullptr, _IONBF, 0);
    return output;
}

}  // namespace

int run_lenfit(int argc, const char* const* argv, const FormatTool& tool) {
    RunOptions options;
    parse_command_line(tool.format_tag, argc, argv, options);
    std::FILE* input = open_input(options.input_path);
    std::FILE* output =
        options.output_path.empty() ? nullptr : open_output(input, options.output_path);

    ProbeBuffer probe_buffer;
    StreamFormat format = tool.probe(input, options.input_path, probe_buffer);
    const LengthEstimate estimate = estimate_length(input, options, format, tool);
    if (output != nullptr) run_scaling_pass(input, output, options, format, estimate, tool);
    return 0;
}

}  // namespace lenfit
