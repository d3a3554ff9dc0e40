// What the toolkit fuzz targets share: start-up, and a walk over everything
// an object holds.
#pragma once

#include "toolkit/mc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zyl::fuzz {

// Initialises the toolkit once from the shipped resource files; the application id.
int toolkitApplication();

// Reads every attribute of `id`: each value as text, every item of every
// sequence (recursively), Pixel Data in pieces and, when encapsulated, each
// frame through the standard codecs.
void walkObject(int id);

// Hands out `bytes` in pieces of `sizes`, cycling; the last piece ends the input.
struct PieceReader {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::size_t offset = 0;
  std::vector<std::size_t> sizes{4096};
  std::size_t next = 0;
};
MC_STATUS pieceFileReader(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast);
MC_STATUS pieceStreamReader(int, void* userInfo, int isFirst, int* size, void** data, int* isLast);

}  // namespace zyl::fuzz
