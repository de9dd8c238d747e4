// dtslenfit: fits a DTS or DTS-HD stream to a new length by writing units (a core frame
// with its extension substream frames) twice or leaving them out.
#include "common/file_io.h"
#include "common/run.h"
#include "dts/dts_format.h"

int main(int argc, char** argv) {
    return lenfit::run_lenfit(lenfit::program_arguments(argc, argv), lenfit::dts_tool);
}
