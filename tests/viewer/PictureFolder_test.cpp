#include "viewer/PictureFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(NaturalLess, OrdersAsFileManagersDo) {
  // Each list is in the expected order.
  const std::vector<std::vector<std::string>> Orders = {
      {"img2.jpg", "img10.jpg", "img100.jpg"},
      {"a.jpg", "B.jpg", "c.jpg"},         // case does not count
      {"x1y2.png", "x1y10.png", "x2.png"},  // number by number
      {"pic.jpg", "pic1.jpg", "pic01a.jpg", "pic2.jpg"},
      {"scan", "scan.jpg", "scan2"},  // a name that begins another comes first
      {"007.bmp", "7.bmp", "08.bmp"},  // same value: a fixed order all the same
      {"a.jpg", "a0.jpg", "a99999999999999999999999.jpg", "a100000000000000000000000.jpg"},  // no overflow
  };
  for (const auto& Order : Orders) {
    for (std::size_t I = 0; I + 1 < Order.size(); ++I) {
      EXPECT_TRUE(NaturalLess(Order[I], Order[I + 1])) << Order[I] << " < " << Order[I + 1];
      EXPECT_FALSE(NaturalLess(Order[I + 1], Order[I])) << Order[I + 1] << " !< " << Order[I];
    }
    std::vector<std::string> Shuffled(Order.rbegin(), Order.rend());
    std::sort(Shuffled.begin(), Shuffled.end(), NaturalLess);
    EXPECT_EQ(Shuffled, Order);
  }
  EXPECT_FALSE(NaturalLess("same.jpg", "same.jpg"));
}

}  // namespace
