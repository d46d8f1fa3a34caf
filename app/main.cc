#include "app/annc.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  annc::KeepStandardDescriptors();
  return annc::RunAnnc(argc, argv);
}
