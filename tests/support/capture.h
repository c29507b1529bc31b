// Captures what a piece of code writes to standard output (the toolkit's
// printers write there through stdio).
#ifndef RIVULET_TESTS_CAPTURE_H
#define RIVULET_TESTS_CAPTURE_H

#include <functional>
#include <string>

namespace tsb {

std::string captureStdout(const std::function<void()>& body);
std::string captureStderr(const std::function<void()>& body);

// Where the sample captures live; empty when they are absent.
std::string samplesDir();

}  // namespace tsb

#endif
