// pelora-server: the Pelora simulation server. Everything is in the pelora_server library.
#include "program.h"

int main(int argc, char** argv) {
    return server::RunServerProgram(argc, argv);
}
