// How a run can fail. The pieces of the run return these as values; the run sequence
// alone turns them into a message and the exit status.
#pragma once

namespace lenfit {

enum class Failure {
    none,
    input_not_opened,   // the input cannot be opened, or is a folder
    output_not_opened,
    output_is_input,    // the output names the input file, which opening would empty
    not_this_format,    // no frame of the tool's format found and confirmed
    refused,            // a stream the format describes but does not read (its refusal text says why)
    size_unknown,       // the input's size cannot be told (a pipe)
    reading_input,      // the input is too short, or ends early or fails while it is read
    writing_output,
    no_silent_unit,     // the format cannot make a silent unit of the stream's shape
};

}  // namespace lenfit
