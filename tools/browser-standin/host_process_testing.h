// Checks the end-to-end tests share about a host they drove (tests only: needs gtest).
#pragma once

#include <gtest/gtest.h>

#include "host_process.h"

namespace quorvane::standin {

// The host ended on its own with status 0, wrote nothing after its last reply and nothing
// to standard error.
inline void expect_quiet_exit(HostProcess& host) {
  EXPECT_EQ(host.wait_exit(20000), 0u);
  EXPECT_FALSE(host.read_frame(100));
  EXPECT_EQ(host.pending_output_bytes(), 0u);
  EXPECT_EQ(host.error_output(), "");
}

}  // namespace quorvane::standin
