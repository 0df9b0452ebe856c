// The life of the program: window, scene, the loop of messages and frames,
// and the one error path. Returns the process exit code.
#pragma once

int RunProgram();
