#include "line/annc_line.h"

int main(int argc, char** argv) { return annc::RunAnncLine(argc, argv); }
