#include "acquisition/channel_arrays.hpp"

#include <gtest/gtest.h>

namespace kestrova::acquisition {
namespace {

// A damaged setup's buffer length cannot make the arrays empty or gigabytes large.
TEST(ChannelArraysTest, BufferLengthStaysWithinAnInteger) {
  struct Case {
    int samples;
    int length;
  };
  for (const Case c :
       {Case{500, 500}, Case{0, 1}, Case{-7, 1}, Case{32767, 32767}, Case{2'000'000'000, 32767}}) {
    ChannelArrays arrays;
    arrays.reset(c.samples);
    EXPECT_EQ(arrays.buffer_length, c.length) << c.samples;
    EXPECT_EQ(arrays.raw.size(), 385u * static_cast<std::size_t>(c.length) + 1) << c.samples;
    EXPECT_EQ(arrays.running_min.size(), 385u);
  }
}

} // namespace
} // namespace kestrova::acquisition
