// Several songs rendered at once, each on its own thread and player instance,
// with one line for each failure and a progress bar on a terminal.
#pragma once

#include <vector>

#include "tools/render/job.h"

// Renders jobs, up to threads at a time. A failure is one line on standard
// error as it happens; unless quiet, each job's summary follows it, and a
// progress bar shows while standard error is a terminal. Returns the number
// of jobs that failed.
int RunJobs(const std::vector<RenderJob>& jobs, int threads, bool quiet);
