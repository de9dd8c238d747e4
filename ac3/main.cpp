// ac3lenfit: fits an AC-3 stream to a new length by writing units twice or leaving
// them out.
#include "ac3/ac3_format.h"
#include "common/file_io.h"
#include "common/run.h"

int main(int argc, char** argv) {
    return lenfit::run_lenfit(lenfit::program_arguments(argc, argv), lenfit::ac3_tool);
}
