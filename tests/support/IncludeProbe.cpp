// A program that includes one header, which the build names (SENDRA_PROBE_HEADER): whether it
// builds tells whether that header is within the program's reach.
#include SENDRA_PROBE_HEADER

int main() { return 0; }
