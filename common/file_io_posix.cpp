// Files on POSIX systems: descriptors, pread and writev.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/file_io.h"

namespace lenfit {

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool open_input_file(const std::string& path, InputFile& file) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat status;
    if (fd < 0) return false;
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return false;
    }
    file.handle = fd;
    return true;
}

bool open_output_file(const std::string& path, OutputFile& file) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return false;
    file.handle = fd;
    return true;
}

bool names_input_file(const InputFile& input, const std::string& path) {
    struct stat input_status;
    struct stat path_status;
    if (fstat(descriptor(input.handle), &input_status) != 0 || stat(path.c_str(), &path_status) != 0) {
        return false;
    }
    return input_status.st_dev == path_status.st_dev && input_status.st_ino == path_status.st_ino;
}

std::int64_t input_file_size(const InputFile& file) {
    const off_t size = lseek(descriptor(file.handle), 0, SEEK_END);
    return size < 0 ? -1 : static_cast<std::int64_t>(size);
}

std::int64_t read_input(const InputFile& file, std::int64_t offset, std::uint8_t* to, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t read_now = offset < 0 ? read(descriptor(file.handle), to + got, n - got)
                                            : pread(descriptor(file.handle), to + got, n - got,
                                                    static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
        if (read_now < 0 && errno == EINTR) continue;
        if (read_now < 0) return -1;
        if (read_now == 0) break;
        got += static_cast<std::size_t>(read_now);
    }
    return static_cast<std::int64_t>(got);
}

bool write_output(const OutputFile& file, const ByteSpan* spans, std::size_t count) {
    iovec vectors[IOV_MAX];
    while (count > 0) {
        std::size_t batch = std::min<std::size_t>(count, IOV_MAX);
        for (std::size_t i = 0; i < batch; ++i) vectors[i] = iovec{const_cast<std::uint8_t*>(spans[i].data), spans[i].size};
        spans += batch;
        count -= batch;
        iovec* vector = vectors;
        while (batch > 0) {
            const ssize_t written = writev(descriptor(file.handle), vector, static_cast<int>(batch));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            // A partial write: step over the spans written, then into the next one.
            auto done = static_cast<std::size_t>(written);
            while (batch > 0 && done >= vector->iov_len) {
                done -= vector->iov_len;
                ++vector;
                --batch;
            }
            if (batch > 0) {
                vector->iov_base = static_cast<std::uint8_t*>(vector->iov_base) + done;
                vector->iov_len -= done;
            }
        }
    }
    return true;
}

void close_input(InputFile& file) {
    if (file.handle >= 0) close(descriptor(file.handle));
    file.handle = -1;
}

bool close_output(OutputFile& file) {
    const bool closed = file.handle < 0 || close(descriptor(file.handle)) == 0;
    file.handle = -1;
    return closed;
}

}  // namespace lenfit
