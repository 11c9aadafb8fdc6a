// sendra-sim: runs, records and describes Sendra2016 rovers in the headless Orbiter 2016 stand-in.
#include <unistd.h>

#include <iostream>

#include "app/Program.h"

int main(int argc, char **argv) {
	std::ios::sync_with_stdio(false);
	std::vector<std::string> args(argv + 1, argv + argc);
	int status = sim::Main(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1);
	std::cout.flush();
	return status;
}
