#include <iostream>

#include "version.h"

int main() {
  std::cout << "tovix-lsp 0.1.2 (tovix " << tovix::VERSION << ")\n";
  return 0;
}
