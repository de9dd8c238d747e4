// What differs between systems: the program's arguments, opening a file by name, its
// size, reading and writing, and whether a name is the file already open. Nothing else
// in the tools touches a file or knows which system it runs on. Names and arguments are
// UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lenfit {

struct InputFile {
    std::intptr_t handle = -1;
};

struct OutputFile {
    std::intptr_t handle = -1;
};

// Bytes to be written, in the caller's memory.
struct ByteSpan {
    const std::uint8_t* data;
    std::size_t size;
};

// The program's arguments, its name first, as main was given them; also makes standard
// output take lines as they are written.
std::vector<std::string> program_arguments(int argc, char** argv);
// Opens a file for reading; false when it cannot be opened or is a folder.
bool open_input_file(const std::string& path, InputFile& file);
// Creates the file, or empties the one there, for writing; false when it cannot.
bool open_output_file(const std::string& path, OutputFile& file);
// Whether path names the file that is open as input, under whatever name.
bool names_input_file(const InputFile& input, const std::string& path);
// The file's size in bytes, or -1 where it has none that can be told (a pipe).
std::int64_t input_file_size(const InputFile& file);
// Reads n bytes from byte `offset` on, or as many as there are; -1 when reading fails.
// Reads from where the last read ended when offset is -1, as a pipe must be read.
std::int64_t read_input(const InputFile& file, std::int64_t offset, std::uint8_t* to, std::size_t n);
// Writes every byte of the spans, in order; false when the file takes no more.
bool write_output(const OutputFile& file, const ByteSpan* spans, std::size_t count);
void close_input(InputFile& file);
// False when bytes written before could not be stored.
bool close_output(OutputFile& file);

}  // namespace lenfit
