#pragma once

// Sets up the environment of a test process (state and config folders in the
// build tree, the offscreen Qt platform); every test main calls it first.
void PrepareTestProcess();
