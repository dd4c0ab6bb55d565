#include "cli/job_option.h"

#include <gtest/gtest.h>

#include <string>

#include <oxtrel/jobs.h>

namespace oxtrel {
namespace {

TEST(JobOption, TakesOnlyAPlainCountFromOneToTheLimit) {
  const std::string limit = std::to_string(kMaxJobs);
  const std::string beyond = std::to_string(kMaxJobs + 1);
  for (const char* bad : {"", "0", "-1", "+2", " 2", "2 ", "2x", "0x10", "1.5", beyond.c_str(), "4294967297",
                          "99999999999999999999"}) {
    unsigned jobs = 7;
    EXPECT_FALSE(parseJobOption(bad, jobs)) << bad;
    EXPECT_EQ(jobs, 7u) << bad;
  }
  for (const char* good : {"1", "2", "08", limit.c_str()}) {
    unsigned jobs = 0;
    EXPECT_TRUE(parseJobOption(good, jobs)) << good;
    EXPECT_EQ(jobs, std::stoul(good)) << good;
  }
}

}  // namespace
}  // namespace oxtrel
