// Quillet: turns an SCC closed-caption file into a plain-text transcript.
#include "app/Startup.h"

int main(int argc, char** argv) { return quillet::RunQuillet(argc, argv); }
