// halvex-replay: the replay command on its own.
#include <exception>
#include <iostream>

#include "runner/replay/replay_command.h"

int main(int argc, char** argv) {
  try {
    return runner::replay::RunReplay(argc, argv);
  } catch (const std::exception& e) {  // out of memory, above all: never a quiet 0
    std::cerr << "halvex-replay: " << e.what() << "\n";
    return runner::replay::kExitInputError;
  }
}
