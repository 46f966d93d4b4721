#include "Shell/KavioApplicationMain.h"

int main(int argc, char* argv[])
{
    return KavioApplicationMain(argc, argv);
}
