#include "HushwingApp.h"

int main(int argc, char *argv[])
{
    return HushwingApp::main(argc, argv);
}
