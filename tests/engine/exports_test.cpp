// The shared library exports exactly the calls of its C interface and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include "support/test_paths.h"

TEST(SharedLibrary, ExportsExactlyTheSixCalls) {
  std::string out;
  int rc = run_command("nm -D --defined-only '" + shared_lib_path() + "'", &out);
  ASSERT_EQ(rc, 0) << out;
  std::set<std::string> names;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string addr, type, name;
    if (!(fields >> addr >> type >> name)) continue;
    if (type == "A") continue;  // the version node itself
    name = name.substr(0, name.find('@'));
    names.insert(name);
  }
  std::set<std::string> want = {"leafsift_init",      "leafsift_cleanup",   "leafsift_last_error",
                                "leafsift_stats",     "leafsift_detect",    "leafsift_remove",
                                "leafsift_detect_ex", "leafsift_remove_ex", "leafsift_analyze"};
  EXPECT_EQ(names, want);
}

TEST(SharedLibrary, HasAVersionedSoname) {
  std::string out;
  ASSERT_EQ(run_command("objdump -p '" + shared_lib_path() + "' | grep SONAME", &out), 0);
  EXPECT_NE(out.find("libleafsift.so.0"), std::string::npos) << out;
}
