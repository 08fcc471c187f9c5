// The pelora-server program: reads the command line, runs one of its actions (serve, print the
// public key or the certificate, open the received data) and gives the exit code.
#pragma once

namespace server {

int RunServerProgram(int argc, char** argv);

} // namespace server
