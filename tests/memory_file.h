// Files held in memory, open as the tools open theirs, for the tests and the fuzz
// targets that call the walk, the estimate and the pass directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/file_io.h"

namespace testkit {

// A file holding the bytes, open for reading.
lenfit::InputFile memory_input(const std::uint8_t* data, std::size_t size);
lenfit::InputFile memory_input(const std::vector<std::uint8_t>& bytes);
// An empty file open for writing.
lenfit::OutputFile memory_output();
// Everything written to the output so far.
std::vector<std::uint8_t> written_bytes(const lenfit::OutputFile& output);
// Cuts the file down to `size` bytes, as someone may while a tool reads it.
void shorten_file(const lenfit::InputFile& input, std::size_t size);

}  // namespace testkit
