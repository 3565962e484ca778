#include "foundation/DeflateTools.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

TEST(DeflateToolsTest, BoundValuesAndSaturation) {
  EXPECT_EQ(AppCore::DeflateBound(0), 133u);
  EXPECT_EQ(AppCore::DeflateBound(1000000), 1100128u);
  EXPECT_EQ(AppCore::DeflateBound(1000009), 1100137u);
  EXPECT_EQ(AppCore::DeflateBound(UINT64_MAX), UINT64_MAX);
}

// The bound holds for what zlib actually writes, incompressible input included.
TEST(DeflateToolsTest, BoundCoversZlibOutput) {
  std::mt19937 rng(8);
  for (size_t size : {0u, 1u, 100u, 31744u, 200000u}) {
    std::string in(size, '\0');
    for (char& c : in) c = static_cast<char>(rng());
    for (int level : {0, 1, 9}) {
      uLongf room = compressBound(size) * 2;
      std::string out(room, '\0');
      ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &room,
                          reinterpret_cast<const Bytef*>(in.data()), size, level),
                Z_OK);
      EXPECT_LE(room, AppCore::DeflateBound(size)) << size << " at level " << level;
    }
  }
}

}  // namespace
