#include "memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace testkit {

namespace {

int new_memory_file() {
    const int fd = memfd_create("lenfit-test-file", 0);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

lenfit::InputFile memory_input(const std::uint8_t* data, std::size_t size) {
    const int fd = new_memory_file();
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) std::abort();
    return lenfit::InputFile{fd};
}

lenfit::InputFile memory_input(const std::vector<std::uint8_t>& bytes) {
    return memory_input(bytes.data(), bytes.size());
}

lenfit::OutputFile memory_output() { return lenfit::OutputFile{new_memory_file()}; }

std::vector<std::uint8_t> written_bytes(const lenfit::OutputFile& output) {
    const auto fd = static_cast<int>(output.handle);
    const off_t size = lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && pread(fd, bytes.data(), bytes.size(), 0) != size) std::abort();
    return bytes;
}

void shorten_file(const lenfit::InputFile& input, std::size_t size) {
    if (ftruncate(static_cast<int>(input.handle), static_cast<off_t>(size)) != 0) std::abort();
}

}  // namespace testkit
