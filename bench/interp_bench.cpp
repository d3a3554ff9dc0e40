// The interpreter's speed: a scalar loop (evaluator overhead per statement)
// and elementwise arithmetic on a 512 x 512 image (must run at native speed).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "interpreter.h"

namespace {

using zyl::lang::Interpreter;

void runOrSkip(benchmark::State& state, Interpreter& interpreter, const char* code) {
  try {
    interpreter.execute(code, "bench");
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// 1e6 iterations of integer arithmetic, a comparison and an assignment.
void ScalarLoop(benchmark::State& state) {
  Interpreter interpreter;
  for (auto _ : state) runOrSkip(state, interpreter, "i = 0; s = 0\nwhile i < 1000000 { s = s + i % 7; i = i + 1 }");
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(ScalarLoop)->Unit(benchmark::kMillisecond);

// The same count with for/range (no array is made).
void ForRangeLoop(benchmark::State& state) {
  Interpreter interpreter;
  for (auto _ : state) runOrSkip(state, interpreter, "s = 0\nfor i in range(1000000) { s += i }");
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(ForRangeLoop)->Unit(benchmark::kMillisecond);

constexpr int64_t kPixels = 512 * 512;

void ImageArithmetic(benchmark::State& state, const char* setup, const char* expression) {
  Interpreter interpreter;
  runOrSkip(state, interpreter, setup);
  for (auto _ : state) runOrSkip(state, interpreter, expression);
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void Uint16ScaleOffset(benchmark::State& state) {
  ImageArithmetic(state, "a = uint16(reshape(range(512 * 512) % 4096, 512, 512))", "b = a * uint16(2) + uint16(1)");
}
BENCHMARK(Uint16ScaleOffset)->Unit(benchmark::kMicrosecond);

void Uint16PromotedToInt32(benchmark::State& state) {
  ImageArithmetic(state, "a = uint16(reshape(range(512 * 512) % 4096, 512, 512))", "b = a * 2 + 1");
}
BENCHMARK(Uint16PromotedToInt32)->Unit(benchmark::kMicrosecond);

void Float32Arithmetic(benchmark::State& state) {
  ImageArithmetic(state, "f = float32(reshape(range(512 * 512), 512, 512)); k = float32(0.5)", "g = f * k + f");
}
BENCHMARK(Float32Arithmetic)->Unit(benchmark::kMicrosecond);

void Uint16Compare(benchmark::State& state) {
  ImageArithmetic(state, "a = uint16(reshape(range(512 * 512) % 4096, 512, 512))", "m = a > 2000");
}
BENCHMARK(Uint16Compare)->Unit(benchmark::kMicrosecond);

void Uint16MeanAndMax(benchmark::State& state) {
  ImageArithmetic(state, "a = uint16(reshape(range(512 * 512) % 4096, 512, 512))", "m = mean(a); x = max(a)");
}
BENCHMARK(Uint16MeanAndMax)->Unit(benchmark::kMicrosecond);

// The same scale-and-offset written as a loop in the script, for comparison.
void Uint16ElementLoop(benchmark::State& state) {
  ImageArithmetic(state, "a = uint16(reshape(range(512 * 512) % 4096, 512, 512)); b = a",
                  "for i in range(512 * 512) { b[i] = a[i] * 2 + 1 }");
}
BENCHMARK(Uint16ElementLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
