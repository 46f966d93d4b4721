#include "OutputsTestMain.h"

int main(int argc, char** argv)
{
    return runOutputSuites(argc, argv);
}
