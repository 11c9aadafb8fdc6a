// sendra-sim: runs, records and describes Sendra2016 rovers in the headless Orbiter 2016 stand-in.
#include <unistd.h>

#include <iostream>

#include "app/Program.h"
#include "output/OutputFiles.h"

int main(int argc, char **argv) {
	// Standard output through a buffer that keeps the cause of a failed write, for the message.
	sim::FdBuffer buffer(STDOUT_FILENO, 1 << 13);
	std::ostream out(&buffer);
	std::vector<std::string> args(argv + 1, argv + argc);
	int status = sim::Main(args, out, std::cerr, ::isatty(STDERR_FILENO) == 1, ::isatty(STDOUT_FILENO) == 1);
	out.flush();
	return status;
}
