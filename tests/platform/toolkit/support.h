// Shared helpers of the toolkit tests: start-up, memory readers and writers.
#pragma once

#include "support/temp_dir.h"
#include "toolkit/mc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zyl::toolkit::test {

// Initialises the toolkit once from the shipped resource files.
void initToolkit();
int applicationId();

std::vector<std::uint8_t> readBytes(const std::string& path);

// Hands a buffer to a reader callback in chunks of a fixed size.
struct MemoryReader {
  const std::vector<std::uint8_t>* bytes = nullptr;
  std::size_t chunkSize = 4096;
  std::size_t offset = 0;
  std::vector<std::uint8_t> chunk;
  int calls = 0;
};
MC_STATUS memoryFileReader(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast);
MC_STATUS memoryStreamReader(int, void* userInfo, int isFirst, int* size, void** data, int* isLast);

// Collects what a writer callback receives.
struct MemoryWriter {
  std::vector<std::uint8_t> bytes;
  int calls = 0;
  bool sawFirst = false;
  bool sawLast = false;
};
MC_STATUS memoryFileWriter(const char*, void* userInfo, int size, void* data, int isFirst, int isLast);

// Opens `bytes` as a DICOM file through the reader; returns the status.
MC_STATUS openFromBytes(const std::vector<std::uint8_t>& bytes, std::size_t chunkSize, int& fileId);
// Writes `bytes` to a file of the process's own (the same name each time) and
// opens it by path, values longer than `leaveAbove` left in it.
MC_STATUS openFromPath(const std::vector<std::uint8_t>& bytes, std::uint32_t leaveAbove, int& fileId);
// Writes a file object to memory.
MC_STATUS writeToBytes(int fileId, std::vector<std::uint8_t>& bytes);

constexpr std::uint32_t tag(std::uint16_t group, std::uint16_t element) {
  return static_cast<std::uint32_t>(group) << 16 | element;
}

}  // namespace zyl::toolkit::test
