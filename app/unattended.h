// The run no one answers: /quiet (no window at all), /passive (the
// progress window only) and /check (search only).  Every answer is the one
// that revises; the outcome is the exit code, and the log tells the rest.
#pragma once

struct CommandLine;

// The whole run after the single-instance check; returns the exit code.
int RunUnattended(const CommandLine& options);
