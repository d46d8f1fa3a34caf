#include "web/annc_web.h"

int main(int argc, char** argv) { return annc::web::RunAnncWeb(argc, argv); }
