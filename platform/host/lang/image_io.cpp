#include "image_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "array_ops.h"
#include "error.h"

namespace zyl::lang {
namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openForWriting(const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) valueError("cannot write " + path + ": " + std::strerror(errno));
  return file;
}

// libpng reports errors by longjmp, so this function holds no object with a
// destructor between setjmp and the end: rows and file belong to the caller.
bool encodePng(FILE* file, png_bytep* rows, png_uint_32 width, png_uint_32 height, int bitDepth, int colorType) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void writeRaw(const std::string& path, const Variable& value) {
  if (!value.isDefined() || !isNumeric(value.type()))
    valueError("write_raw: expected a numeric array or number, got " + std::string(typeName(value.type())));
  const void* data = value.isArray() ? static_cast<const void*>(value.array()->data()) : &value.scalar();
  const size_t size = value.isArray() ? value.array()->byteSize() : typeSize(value.type());
  File file = openForWriting(path);
  if (std::fwrite(data, 1, size, file.get()) != size) valueError("cannot write " + path + ": " + std::strerror(errno));
  if (std::fclose(file.release()) != 0) valueError("cannot write " + path + ": " + std::strerror(errno));
}

void writePng(const std::string& path, const Variable& image) {
  if (!image.isArray() || !isNumeric(image.type()))
    valueError("write_png: expected a numeric image array, got " + std::string(typeName(image.type())));
  const Array& a = *image.array();
  int64_t samples = 1, width = 0, height = 0;
  if (a.ndims() == 2) {
    width = a.dims()[0];
    height = a.dims()[1];
  } else if (a.ndims() == 3 && a.dims()[0] == 3) {
    samples = 3;
    width = a.dims()[1];
    height = a.dims()[2];
  } else {
    valueError("write_png: expected dimensions [width, height] (grey) or [3, width, height] (RGB)");
  }
  if (width <= 0 || height <= 0 || width > 0x7fffffff / 8 || height > 0x7fffffff)
    valueError("write_png: the image is empty or too large");
  const bool eightBit = a.elemType() == Type::Byte;
  const size_t rowBytes = static_cast<size_t>(width * samples) * (eightBit ? 1 : 2);
  std::vector<png_byte> pixels(rowBytes * static_cast<size_t>(height));
  if (eightBit) {
    std::memcpy(pixels.data(), a.data(), pixels.size());
  } else {
    Variable values = convert(image, Type::Float64);
    const double* v = values.array()->as<double>();
    const int64_t n = a.count();
    double low = v[0], high = v[0];
    for (int64_t i = 1; i < n; ++i) {
      if (v[i] < low) low = v[i];
      if (v[i] > high) high = v[i];
    }
    const double scale = high > low ? 65535.0 / (high - low) : 0.0;
    for (int64_t i = 0; i < n; ++i) {
      const auto sample = static_cast<uint16_t>((v[i] - low) * scale + 0.5);
      pixels[static_cast<size_t>(2 * i)] = static_cast<png_byte>(sample >> 8);  // PNG is big endian
      pixels[static_cast<size_t>(2 * i + 1)] = static_cast<png_byte>(sample & 0xff);
    }
  }
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (size_t y = 0; y < rows.size(); ++y) rows[y] = pixels.data() + y * rowBytes;
  File file = openForWriting(path);
  if (!encodePng(file.get(), rows.data(), static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 eightBit ? 8 : 16, samples == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY))
    valueError("write_png: cannot encode " + path);
  if (std::fclose(file.release()) != 0) valueError("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace zyl::lang
