#include "common/thread_count.hpp"

#include <gtest/gtest.h>
#include <sched.h>

namespace zem::cli {
namespace {

TEST(ThreadCountTest, TakesZemThreadsOrTheProcessorsOfTheProcess) {
  EXPECT_EQ(thread_count("1").value(), 1U);
  EXPECT_EQ(thread_count("3").value(), 3U);
  EXPECT_EQ(thread_count("256").value(), 256U);
  // The grammar of a tile number.
  EXPECT_EQ(thread_count("+2").value(), 2U);
  EXPECT_EQ(thread_count("004").value(), 4U);
  for (const char* refused : {"0", "+0", "257", "-2", "+", "2x", " 2", "99999999999"}) {
    EXPECT_FALSE(thread_count(refused)) << refused;
  }
  EXPECT_EQ(thread_count("0").error().message,
            "invalid ZEM_THREADS value \"0\": expected a whole number from 1 to 256");
  cpu_set_t set;
  ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
  const unsigned processors = static_cast<unsigned>(CPU_COUNT(&set));
  EXPECT_EQ(thread_count(nullptr).value(), std::min(processors, 16U));
  EXPECT_EQ(thread_count("").value(), std::min(processors, 16U));  // set but empty: unset
}

}  // namespace
}  // namespace zem::cli
