// Peak heap use while reading a chart must stay within about twice what the
// finished score keeps (a note and its active-note index are under 100
// bytes), for one long data line and for many short ones alike. Global
// operator new and delete are replaced here by counting ones over malloc and
// free, so the figures are the bytes the library asks for, the same under the
// plain and the sanitizer build.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "score.hpp"

namespace {

std::size_t current_bytes = 0;
std::size_t peak_bytes = 0;

void* counted_alloc(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  current_bytes += malloc_usable_size(p);
  if (current_bytes > peak_bytes) peak_bytes = current_bytes;
  return p;
}

void counted_free(void* p) noexcept {
  if (p == nullptr) return;
  current_bytes -= malloc_usable_size(p);
  std::free(p);
}

// Peak heap bytes per cell above what was in use before, while reading text.
double peak_per_cell(const std::string& text, std::size_t cells) {
  const std::size_t before = current_bytes;
  peak_bytes = current_bytes;
  const corvane::Score score = corvane::Score::from_str(text);
  EXPECT_EQ(score.active_notes.size(), cells);
  return static_cast<double>(peak_bytes - before) / static_cast<double>(cells);
}

constexpr std::size_t kCells = 200000;
constexpr double kMaxBytesPerCell = 200;

TEST(ReadMemory, OneLongLine) {
  std::string text = "#00012: ";
  for (std::size_t i = 0; i < kCells; ++i) text += "11";
  EXPECT_LE(peak_per_cell(text, kCells), kMaxBytesPerCell);
}

TEST(ReadMemory, ManyShortLines) {
  // Sixteen cells a line, measures out of order, on every playable lane.
  constexpr std::size_t kPerLine = 16;
  std::string text;
  char key[16];
  for (std::size_t i = 0; i < kCells / kPerLine; ++i) {
    std::snprintf(key, sizeof key, "#%03zu1%c: ", i % 1000, "23456789abcd"[i % 12]);
    text += key;
    for (std::size_t c = 0; c < kPerLine; ++c) text += "11";
    text += '\n';
  }
  EXPECT_LE(peak_per_cell(text, kCells), kMaxBytesPerCell);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
