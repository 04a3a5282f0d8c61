#include "app/VelmC2.h"

int main(int argc, char** argv) {
  return velm::RunVelmC2(argc, argv);
}
