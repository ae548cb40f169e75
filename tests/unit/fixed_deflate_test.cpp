// The deflater of BLF log containers against zlib's inflater: runs of every
// copy length at a distance of every distance code (and one past the window)
// must inflate to the bytes coded, and be coded as copies.
#include "convert/fixed_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace ksvw {
namespace {

TEST(FixedDeflate, EveryLengthAndDistanceInflatesToWhatWasCoded) {
  std::mt19937 rng(7);
  std::vector<uint8_t> input;
  FixedDeflater deflater;
  std::vector<uint8_t> stream(FixedDeflater::MaxSize(200000));
  deflater.Start(stream.data());
  std::vector<size_t> distances;  // steps of a quarter: no distance code is left out
  for (size_t d = 1; d <= FixedDeflater::kWindow; d = d * 5 / 4 + 1) distances.push_back(d);
  distances.insert(distances.end(), {FixedDeflater::kWindow, FixedDeflater::kWindow + 1});
  size_t run = 1;
  for (const size_t distance : distances) {
    size_t start = input.size();
    while (input.size() < distance) input.push_back(static_cast<uint8_t>(rng()));
    deflater.Code(input.data() + start, input.size() - start, 0);
    start = input.size();
    // Runs of 1 to 300 equal bytes over the loop, each ended by one that differs.
    for (int k = 0; k < 8; ++k, run = run % 300 + 1) {
      for (size_t i = 0; i < run; ++i) input.push_back(input[input.size() - distance]);
      input.push_back(static_cast<uint8_t>(input[input.size() - distance] + 1));
    }
    deflater.Code(input.data() + start, input.size() - start, distance);
  }
  ASSERT_LE(input.size(), 200000u);
  const size_t size = deflater.Finish(input.data(), input.size());

  std::vector<uint8_t> back(input.size());
  uLongf length = back.size();
  ASSERT_EQ(uncompress(back.data(), &length, stream.data(), size), Z_OK);
  back.resize(length);
  EXPECT_EQ(back, input);
  EXPECT_LT(size, input.size() / 2) << "runs were not coded as copies";
}

}  // namespace
}  // namespace ksvw
