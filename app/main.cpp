#include "app/options.h"

int main(int argc, char** argv) { return quillo::RunQuillo(argc, argv); }
