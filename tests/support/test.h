// What every test file of the suite uses: GoogleTest, the toolkit's header,
// the stream builder, the runner and the temporary folder.
#ifndef RIVULET_TESTS_TEST_H
#define RIVULET_TESTS_TEST_H

#include <gtest/gtest.h>

#include "rivulet/ts.h"
#include "tests/support/run.h"
#include "tests/support/streams.h"
#include "tests/support/temp_dir.h"

using tsb::Bytes;

#endif
