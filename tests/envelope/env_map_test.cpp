// The limits of the decrypted environment map and the safe name filter.

#include "envelope/env_map.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tovrel::envelope {
namespace {

using Messages = std::vector<std::string>;

// `count` entries named V000, V001, ... with the value "x".
json::Object numbered(std::size_t count) {
  json::Object map;
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = std::to_string(i);
    map.emplace("V" + std::string(3 - std::min<std::size_t>(3, name.size()), '0') + name, "x");
  }
  return map;
}

// 16 one-letter names A..P whose values have `value_bytes` bytes each.
json::Object sixteen(std::size_t value_bytes) {
  json::Object map;
  for (char c = 'A'; c <= 'P'; ++c) map.emplace(std::string(1, c), std::string(value_bytes, 'v'));
  return map;
}

TEST(ValidateEnvMap, Count) {
  EXPECT_EQ(validate_env_map({}), Messages{});
  EXPECT_EQ(validate_env_map(numbered(256)), Messages{});
  EXPECT_EQ(validate_env_map(numbered(257)),
            Messages{"too many variables: 257 exceeds limit of 256"});
  // The entries are still checked after the count.
  json::Object map = numbered(257);
  map["V100"] = 7;
  EXPECT_EQ(validate_env_map(map), (Messages{"too many variables: 257 exceeds limit of 256",
                                             "variable value for V100 is not a string"}));
}

TEST(ValidateEnvMap, ValueSize) {
  EXPECT_EQ(validate_env_map({{"A", std::string(65536, 'a')}}), Messages{});
  EXPECT_EQ(validate_env_map({{"A", std::string(65537, 'a')}}),
            Messages{"variable A value too large: 65537 bytes exceeds limit of 65536"});
  // Bytes, not characters: 32768 two-byte characters are exactly at the limit.
  std::string two_byte;
  for (int i = 0; i < 32768; ++i) two_byte += "\u00e9";
  EXPECT_EQ(validate_env_map({{"A", two_byte}}), Messages{});
  EXPECT_EQ(validate_env_map({{"A", two_byte + "x"}}),
            Messages{"variable A value too large: 65537 bytes exceeds limit of 65536"});
}

TEST(ValidateEnvMap, NulThenSizeAndStillCounted) {
  std::string nul_value = std::string(65600, 'n');
  nul_value[10] = '\0';
  json::Object map = sixteen(65535);  // 1048576 in total: at the limit
  EXPECT_EQ(validate_env_map(map), Messages{});
  map["Q"] = nul_value;
  EXPECT_EQ(validate_env_map(map),
            (Messages{"variable Q contains NUL byte",
                      "variable Q value too large: 65600 bytes exceeds limit of 65536",
                      "total env size 1114177 bytes exceeds limit of 1048576"}));
  EXPECT_EQ(validate_env_map({{"Z", std::string("a\0b", 3)}}),
            Messages{"variable Z contains NUL byte"});
}

TEST(ValidateEnvMap, Total) {
  EXPECT_EQ(validate_env_map(sixteen(65536)),
            Messages{"total env size 1048592 bytes exceeds limit of 1048576"});
  // An empty value still adds its name.
  json::Object map = sixteen(65535);
  map["Q"] = "";
  EXPECT_EQ(validate_env_map(map),
            Messages{"total env size 1048577 bytes exceeds limit of 1048576"});
  // Values that are not strings add nothing, their names neither.
  map.erase("Q");
  const std::string long_name(100, 'N');
  for (json::JsonValue v : {json::JsonValue(1), json::JsonValue(true), json::JsonValue(nullptr),
                            json::JsonValue(json::Array{}), json::object(), json::JsonValue(1.5)}) {
    json::Object with = map;
    with[long_name] = v;
    EXPECT_EQ(validate_env_map(with),
              Messages{"variable value for " + long_name + " is not a string"});
  }
}

TEST(ValidateEnvMap, OrderOfMessages) {
  EXPECT_EQ(validate_env_map({{"B", std::string(65537, 'b')}, {"A", 1}}),
            (Messages{"variable value for A is not a string",
                      "variable B value too large: 65537 bytes exceeds limit of 65536"}));
}

TEST(SafeEnvName, Syntax) {
  for (const char* name : {"", "9X", "A-B", "A.B", "A B", "\u00c4", "X=1", "A\n", "_\u00e9"}) {
    EXPECT_FALSE(is_safe_env_name(name)) << name;
  }
  EXPECT_FALSE(is_safe_env_name(std::string("A\0B", 3)));
  for (const char* name : {"_", "A", "a1", "_9", "abc_DEF_123"}) {
    EXPECT_TRUE(is_safe_env_name(name)) << name;
  }
}

TEST(SafeEnvName, DeniedNames) {
  for (const char* name : {"TMP",
                           "PATH",
                           "HOME",
                           "USER",
                           "LANG",
                           "TERM",
                           "TEMP",
                           "SHELL",
                           "TMPDIR",
                           "PYTHONPATH",
                           "PYTHONHOME",
                           "USER_SPACE",
                           "LD_PRELOAD",
                           "PYTHON_PATH",
                           "VIRTUAL_ENV",
                           "CONDA_PREFIX",
                           "KOV_REMOTE_NAME",
                           "KOV_NODE_CONFIG",
                           "LD_LIBRARY_PATH",
                           "KOV_KERNEL_PYTHON",
                           "DYLD_LIBRARY_PATH",
                           "KOV_SIGNING_KEY_DIR",
                           "DYLD_INSERT_LIBRARIES"}) {
    EXPECT_FALSE(is_safe_env_name(name)) << name;
    // Whole-name equality only, and case-sensitive.
    EXPECT_TRUE(is_safe_env_name(std::string(name) + "2") || std::string(name).starts_with("LD_"))
        << name;
  }
  for (const char* name :
       {"Path", "path", "PATHS", "MYPATH", "TMPDIR2", "USER_NAME", "ld_preload", "DYLD", "HOME_"}) {
    EXPECT_TRUE(is_safe_env_name(name)) << name;
  }
}

TEST(SafeEnvName, DeniedPrefixes) {
  for (const char* name : {"LD_", "CI_", "SSL_", "AWS_", "MODAL_", "AZURE_", "GOOGLE_", "GITHUB_",
                           "DOCKER_", "SUPABASE_", "KOV_INTERNAL_", "AWS_REGION", "SSL_CERT_FILE",
                           "GITHUB_TOKEN", "DOCKER_HOST", "KOV_INTERNAL_X", "LD_X"}) {
    EXPECT_FALSE(is_safe_env_name(name)) << name;
  }
  for (const char* name : {"CI", "CIRCLE", "AWS", "SSL", "LDX", "KOV_INTERNAL", "KOV_OTHER",
                           "aws_key", "XAWS_", "SUPABASE"}) {
    EXPECT_TRUE(is_safe_env_name(name)) << name;
  }
}

}  // namespace
}  // namespace tovrel::envelope
