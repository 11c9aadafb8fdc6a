// sendra-sim as a function: the whole program behind main, for the executable and the tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sim {

// Exit statuses of sendra-sim.
const int kExitSuccess = 0;
const int kExitUsage = 2;    // the command line does not follow the usage
const int kExitInput = 3;    // a scenario, script, module or output that cannot be used
const int kExitInternal = 1;  // anything else (a fault of the program itself)

// Runs sendra-sim with the arguments after the program name. errIsTerminal enables the
// progress bar of long loads, runs and renders; outIsTerminal leaves out run's per-second
// lines unless asked for. out is an output like the files: when it cannot be written the command fails with kExitInput, and when
// its reader has gone (a closed pipe) the program ends by SIGPIPE.
int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal,
         bool outIsTerminal);

}  // namespace sim
