#include "app/annc.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  int code = annc::RunAnnc(argc, argv);
  annc::RestoreConsoleInput();
  return code;
}
