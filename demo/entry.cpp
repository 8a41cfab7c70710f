// entry.cpp - the programs' entry point. mirador720 and mirador1080 are built from
// this file with different MIRADOR_WIDTH and MIRADOR_HEIGHT.
#include "demo/main.h"
#include "engine/driver.h"

int main(int argc, char **argv)
{
    mirador_setoutput(MIRADOR_WIDTH, MIRADOR_HEIGHT);
    return WinMain(argc, argv);
}
