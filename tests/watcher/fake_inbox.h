// Kept for tests elsewhere that include it: the fake inbox is in the harness.
#pragma once
#include "tests/watcher/harness.h"
