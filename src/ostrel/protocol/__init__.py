"""What the client and the server both hold to: the call metadata they
exchange, the syntax of a token, the addresses a server listens on, the
names of status codes and the rules a pushed project must follow. Nothing
here imports gRPC, so that the command line checks a project offline."""
