#include "ControllerFakes.h"
#include <gtest/gtest.h>
