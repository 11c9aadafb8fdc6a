"""The mutation check (tools/mutants.py) by concern: faults and equivalents draw the faults,
copies builds the copies of the project, processes and testing run the tests against a fault,
report prints what came out, and cli is the command line and the run."""
