// Kept for the tests that include it by this name.
#pragma once
#include "common/whole_program.h"
