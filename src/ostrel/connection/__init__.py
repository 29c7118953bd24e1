"""Connecting to an Ostrel server, for the command line and Python clients
alike: the settings of a connection checked in one place (`settings`), the
target, headers and token (`targets`, `headers`), profiles of the
configuration file (`profiles`), settings drawn from the command line and
the environment (`sources`), failures explained in one line (`explain`) and
the channel itself (`channel`, the only module here that imports gRPC)."""
