// The band window of a streaming host: rows come in from a reader thread and
// go out through a writer thread as the filter moves down; every row goes
// out exactly once, in order, with what the filter made of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "host/row_window.h"

using host::RowStream;
using host::RowWindow;

namespace {

constexpr int32 kWidth = 5;
constexpr size_t kRowBytes = kWidth * 3;

// A picture whose row y holds bytes y, y+1, ...; what is written is kept.
struct Picture {
  int32 height = 0;
  int32 readUpTo = 0;
  std::vector<uint8> written;
  int32 failReadingAt = -1;  // the first row that cannot be read
  int32 failWritingAt = -1;

  RowStream Stream() {
    RowStream s;
    s.width = kWidth;
    s.height = height;
    s.rowBytes = kRowBytes;
    s.read = [this](int32 rows, uint8* colour, size_t stride, uint8*, size_t, std::string* why) {
      for (int32 r = 0; r < rows; ++r, ++readUpTo) {
        if (readUpTo == failReadingAt) {
          *why = "row " + std::to_string(readUpTo) + " is damaged";
          return false;
        }
        for (size_t i = 0; i < kRowBytes; ++i) colour[size_t(r) * stride + i] = uint8(readUpTo + int32(i));
      }
      return true;
    };
    s.write = [this](int32 rows, const uint8* colour, size_t stride, const uint8*, size_t, std::string* why) {
      for (int32 r = 0; r < rows; ++r) {
        if (int32(written.size() / kRowBytes) == failWritingAt) {
          *why = "no space left";
          return false;
        }
        written.insert(written.end(), colour + size_t(r) * stride, colour + size_t(r) * stride + kRowBytes);
      }
      return true;
    };
    return s;
  }
};

// Tiles of `tile` rows from `top` to `bottom`, each row's first byte set to 255.
bool Walk(RowWindow& w, int32 top, int32 bottom, int32 tile) {
  for (int32 y = top; y < bottom; y += tile) {
    const int32 end = std::min(bottom, y + tile);
    if (!w.Hold(y, end)) return false;
    for (int32 r = y; r < end; ++r) w.Row(r)[0] = 255;
  }
  return true;
}

void ExpectWritten(const Picture& p, int32 filteredTop, int32 filteredBottom) {
  ASSERT_EQ(p.written.size(), size_t(p.height) * kRowBytes);
  for (int32 y = 0; y < p.height; ++y) {
    const bool filtered = y >= filteredTop && y < filteredBottom;
    EXPECT_EQ(p.written[size_t(y) * kRowBytes], filtered ? 255 : uint8(y)) << "row " << y;
    EXPECT_EQ(p.written[size_t(y) * kRowBytes + 4], uint8(y + 4)) << "row " << y;
  }
}

}  // namespace

TEST(RowWindow, EveryRowGoesOutOnceInOrderWithWhatTheFilterMade) {
  // Bands anchored at the filtered rows' top, tiles of the band's height, of
  // other heights, and one request for everything at once.
  struct Case {
    int32 height, bandRows, anchor, top, bottom, tile;
  } cases[] = {{100, 16, 0, 0, 100, 16}, {100, 16, 37, 37, 90, 16}, {100, 16, 37, 37, 90, 7},
               {100, 16, 0, 0, 100, 100}, {5, 64, 0, 0, 5, 64},    {100, 16, 99, 99, 100, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bandRows) + " rows a band from " + std::to_string(c.anchor) + ", tiles of " +
                 std::to_string(c.tile));
    Picture p;
    p.height = c.height;
    RowWindow w(p.Stream(), c.bandRows, c.anchor, 3);
    EXPECT_EQ(w.Contiguous(c.anchor, std::min(c.height, c.anchor + c.bandRows)), true);
    ASSERT_TRUE(Walk(w, c.top, c.bottom, c.tile)) << w.error();
    ASSERT_TRUE(w.Finish()) << w.error();
    ExpectWritten(p, c.top, c.bottom);
  }
}

TEST(RowWindow, HoldsAFewBandsWhateverTheHeight) {
  Picture p;
  p.height = 5000;
  RowWindow w(p.Stream(), 10, 0, 3);
  ASSERT_TRUE(Walk(w, 0, 5000, 10));
  ASSERT_TRUE(w.Finish());
  EXPECT_LE(w.PeakBuffers(), 4);
  ExpectWritten(p, 0, 5000);
}

TEST(RowWindow, RowsAlreadyWrittenAreNotHandedOutAgain) {
  Picture p;
  p.height = 100;
  RowWindow w(p.Stream(), 10, 0, 3);
  ASSERT_TRUE(w.Hold(50, 60));
  EXPECT_FALSE(w.Hold(5, 15));
  EXPECT_NE(w.error().find("rows 5 to 14 were asked for after they had been written"), std::string::npos)
      << w.error();
  EXPECT_FALSE(w.Finish());
}

TEST(RowWindow, AReadOrWriteFailureStopsTheFilterWithTheReason) {
  {
    Picture p;
    p.height = 100;
    p.failReadingAt = 42;
    RowWindow w(p.Stream(), 10, 0, 3);
    EXPECT_FALSE(Walk(w, 0, 100, 10));
    EXPECT_EQ(w.error(), "row 42 is damaged");
    EXPECT_FALSE(w.Finish());
    EXPECT_LE(p.written.size(), size_t(40) * kRowBytes);
  }
  {
    Picture p;
    p.height = 100;
    p.failWritingAt = 25;
    RowWindow w(p.Stream(), 10, 0, 3);
    EXPECT_FALSE(Walk(w, 0, 100, 10));  // stops early, not at the end
    EXPECT_EQ(w.error(), "no space left");
    EXPECT_FALSE(w.Finish());
  }
  {
    // Dropped half way: the threads stop, nothing hangs.
    Picture p;
    p.height = 1000;
    RowWindow w(p.Stream(), 10, 0, 3);
    ASSERT_TRUE(w.Hold(0, 10));
  }
}

// Band memory is rounded up to whole large pages where the system has them:
// every byte asked for must be there (AddressSanitizer checks the ends).
TEST(BandMemory, EveryByteAskedForIsThereWhateverTheSize) {
  const size_t large = size_t(2) << 20;
  for (size_t bytes : {size_t(0), size_t(1), size_t(4095), large - 1, large, large + 1, 5 * large + 12345}) {
    host::BandMemory m = host::AllocateBandMemory(bytes);
    ASSERT_NE(m.get(), nullptr) << bytes;
    m[0] = 1;
    if (bytes > 0) {
      std::memset(m.get(), 0x5a, bytes);
      EXPECT_EQ(m[bytes - 1], 0x5a) << bytes;
    }
  }
}
