// The installed package works for a host: a release build installed into a
// temporary prefix, then a C program built against it once through
// find_package(iffjpeg) and once through pkg-config, and the installed tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace iffjpeg_test {
namespace {

#if defined(IFFJPEG_SOURCE_DIR) && defined(IFFJPEG_CMAKE_COMMAND)

// Runs a step and fails the test with its output when it does not succeed.
::testing::AssertionResult Step(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env = {},
                                ProcessResult* result = nullptr) {
  ProcessResult r = RunProcess(argv, env);
  if (result != nullptr) *result = r;
  if (r.exitStatus == 0) return ::testing::AssertionSuccess();
  std::string command;
  for (const std::string& a : argv) command += a + " ";
  return ::testing::AssertionFailure() << command << "exited with " << r.exitStatus << "\n"
                                       << r.out << r.err;
}

TEST(InstallPackage, CHostBuildsAgainstInstalledPackage) {
  TempDir tmp;
  ASSERT_FALSE(tmp.path().empty());
  const std::string cmake = IFFJPEG_CMAKE_COMMAND;
  const std::string build = tmp / "build", prefix = tmp / "prefix";
  // Configured for one prefix and installed into another: both the CMake
  // package and the pkg-config file must find their files relative to
  // themselves.
  ASSERT_TRUE(
      Step({cmake, "-S", IFFJPEG_SOURCE_DIR, "-B", build, "-G", IFFJPEG_CMAKE_GENERATOR,
            "-DCMAKE_BUILD_TYPE=Release", "-DIFFJPEG_BUILD_TESTS=OFF",
            "-DCMAKE_INSTALL_PREFIX=" + (tmp / "unused"), "-DCMAKE_C_COMPILER=" IFFJPEG_C_COMPILER,
            "-DCMAKE_CXX_COMPILER=" IFFJPEG_CXX_COMPILER}));
  ASSERT_TRUE(Step({cmake, "--build", build, "-j", "2"}));
  ASSERT_TRUE(Step({cmake, "--install", build, "--prefix", prefix}));

  EXPECT_TRUE(std::filesystem::exists(prefix + "/include/iffjpeg.h"));
  ProcessResult version;
  EXPECT_TRUE(Step({prefix + "/bin/iffjpeg", "--version"}, {}, &version));
  EXPECT_NE(version.out.find("iffjpeg "), std::string::npos);

  // find_package(iffjpeg) -> iffjpeg::iffjpeg
  const std::string hostBuild = tmp / "host";
  ASSERT_TRUE(Step({cmake, "-S", std::string(IFFJPEG_SOURCE_DIR) + "/tests/install", "-B",
                    hostBuild, "-G", IFFJPEG_CMAKE_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix,
                    "-DCMAKE_C_COMPILER=" IFFJPEG_C_COMPILER}));
  ASSERT_TRUE(Step({cmake, "--build", hostBuild}));
  ProcessResult host;
  EXPECT_TRUE(Step({hostBuild + "/host", tmp / "cmake_host.jpg"}, {}, &host));
  EXPECT_EQ(host.out, "host ok\n");

  // pkg-config
  const std::vector<std::string> env = {"PKG_CONFIG_PATH=" + prefix + "/lib/pkgconfig"};
  ProcessResult cflags, libs, libdir;
  ASSERT_TRUE(Step({"pkg-config", "--cflags", "iffjpeg"}, env, &cflags));
  ASSERT_TRUE(Step({"pkg-config", "--libs", "iffjpeg"}, env, &libs));
  ASSERT_TRUE(Step({"pkg-config", "--variable=libdir", "iffjpeg"}, env, &libdir));
  auto trim = [](std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  };
  // The flags are single tokens: "-I<dir>" and "-L<dir> -liffjpeg".
  std::vector<std::string> compile = {IFFJPEG_C_COMPILER, "-std=c99", "-Wall", "-Werror",
                                      trim(cflags.out)};
  std::string l = trim(libs.out);
  std::size_t space = l.find(' ');
  ASSERT_NE(space, std::string::npos) << l;
  compile.insert(compile.end(),
                 {std::string(IFFJPEG_SOURCE_DIR) + "/tests/install/host.c", "-o", tmp / "pc_host",
                  l.substr(0, space), l.substr(space + 1), "-Wl,-rpath," + trim(libdir.out)});
  ASSERT_TRUE(Step(compile));
  EXPECT_TRUE(Step({tmp / "pc_host", tmp / "pc_host.jpg"}));
}

#else

TEST(InstallPackage, CHostBuildsAgainstInstalledPackage) {
  GTEST_SKIP() << "built without the tools (IFFJPEG_BUILD_TOOLS=OFF)";
}

#endif

}  // namespace
}  // namespace iffjpeg_test
