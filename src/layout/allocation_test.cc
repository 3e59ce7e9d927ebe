#include "layout/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quarvel {
namespace {

class Allocation : public ::testing::Test {
 protected:
  void SetUp() override { AllocationGate::reset(); }
  void TearDown() override { AllocationGate::reset(); }
};

TEST_F(Allocation, LiveRecordsAreAlignedAndNeverOverlap) {
  // Sizes on both sides of the pooled range and of the size rounding, and
  // enough records to run through several chunks of each pool.
  const std::size_t sizes[] = {1, 8, 16, 17, 24, 32, 33, 112, 127, 128, 129, 1000};
  struct Record {
    unsigned char* memory;
    std::size_t size;
    unsigned char fill;
  };
  std::vector<Record> records;
  const std::size_t before = AllocationGate::bytesInUse();
  for (int round = 0; round < 3000; ++round) {
    for (std::size_t size : sizes) {
      auto* memory = static_cast<unsigned char*>(allocateRecord(size));
      ASSERT_NE(memory, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % alignof(std::max_align_t), 0u) << size;
      const auto fill = static_cast<unsigned char>(records.size());
      std::memset(memory, fill, size);
      records.push_back({memory, size, fill});
    }
    // Free every third record as we go, so that slots are reused in between.
    if (round % 3 == 2) {
      for (std::size_t i = records.size() - std::size(sizes); i < records.size(); i += 3) {
        releaseRecord(records[i].memory, records[i].size);
        records[i].memory = nullptr;
      }
    }
  }
  for (const Record& r : records) {
    if (r.memory == nullptr) continue;
    for (std::size_t i = 0; i < r.size; ++i) ASSERT_EQ(r.memory[i], r.fill) << r.size;
    releaseRecord(r.memory, r.size);
  }
  EXPECT_EQ(AllocationGate::bytesInUse(), before);
}

TEST_F(Allocation, FreedSlotsServeWithinTheBudgetAndObeyTheArmedFailure) {
  constexpr std::size_t kSize = 32;
  // Leave freed slots in the pool first.
  void* spare[4];
  for (void*& p : spare) p = allocateRecord(kSize);
  for (void* p : spare) releaseRecord(p, kSize);

  // No new chunk fits: the freed slots and the rest of the newest chunk
  // are served, then nothing.
  const std::size_t held = AllocationGate::bytesHeld();
  AllocationGate::setBudget(held);
  // More records than the bytes held can serve, unless the budget stops them.
  std::vector<void*> records;
  while (records.size() <= held / kSize) {
    void* record = allocateRecord(kSize);
    if (record == nullptr) break;
    records.push_back(record);
  }
  EXPECT_GE(records.size(), std::size(spare));
  EXPECT_LE(records.size(), held / kSize);
  EXPECT_EQ(AllocationGate::bytesHeld(), held);
  releaseRecord(records.back(), kSize);
  records.pop_back();

  AllocationGate::failAt(2);
  void* c = allocateRecord(kSize);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(allocateRecord(kSize), nullptr);
  EXPECT_EQ(allocateRecord(kSize), nullptr);  // the budget again
  releaseRecord(c, kSize);
  c = allocateRecord(kSize);
  EXPECT_NE(c, nullptr);
  records.push_back(c);
  for (void* record : records) releaseRecord(record, kSize);
}

TEST_F(Allocation, PoolsTakeNoMoreFromTheSystemThanTheBudget) {
  // Fill one pool to the budget and free it all, then fill another: freed
  // slots serve their own size only, so the second pool must find the
  // budget spent rather than take as much again.
  const std::size_t budget = AllocationGate::bytesHeld() + 8 * 1024 * 1024;
  AllocationGate::setBudget(budget);
  for (const std::size_t size : {32, 128}) {
    std::vector<void*> records;
    while (void* record = allocateRecord(size)) records.push_back(record);
    EXPECT_LE(AllocationGate::bytesHeld(), budget) << size;
    for (void* record : records) releaseRecord(record, size);
  }
  EXPECT_EQ(allocateRecord(std::size_t{4} << 20), nullptr);
  EXPECT_LE(AllocationGate::bytesHeld(), budget);
}

}  // namespace
}  // namespace quarvel
