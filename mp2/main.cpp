// mp2lenfit: fits an MPEG audio Layer II stream to a new length by writing frames twice
// or leaving them out.
#include "common/file_io.h"
#include "common/run.h"
#include "mp2/mp2_format.h"

int main(int argc, char** argv) {
    return lenfit::run_lenfit(lenfit::program_arguments(argc, argv), lenfit::mp2_tool);
}
