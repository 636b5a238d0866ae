#include "base/path_map.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(MapScriptPathTest, MapsSeparatorsAndDropsDriveLetters) {
  struct Case {
    const char* script_path;
    const char* mapped;
  };
  const Case cases[] = {
      {"C:\\obj\\main.OBJ", "/obj/main.OBJ"},
      {"c:\\obj\\x", "/obj/x"},
      {"..\\src\\x.c", "../src/x.c"},
      {"\\\\server\\share\\f", "//server/share/f"},
      {"\\root", "/root"},
      {"D:rel\\x", "rel/x"},
      {"C:", ""},
      {"C:\\", "/"},
      {"obj/main.o", "obj/main.o"},  // already a path of this system
      {"/usr/lib", "/usr/lib"},
      {"main.c", "main.c"},
      {"", ""},
      {"1:\\x", "1:/x"},        // not a drive letter
      {"ab:\\x", "ab:/x"},      // not a drive letter
      {"x\\C:\\y", "x/C:/y"},   // only a leading drive letter is dropped
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapScriptPath(c.script_path), c.mapped) << c.script_path;
  }
}

}  // namespace
}  // namespace ostrel
