#pragma once

namespace platform {

// COM has no counterpart here. The calls stay so that the threads' start-up and shut-down keep
// their visible shape; each thread's initialisation count is kept for tests.
void CoInitialize();
void CoUninitialize();
int ComInitCount();

}  // namespace platform
