// Storage micro-benchmarks: interning hits and misses, bump allocation, and one regeneration
// over a live heap of about 100 MB.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "interp/interp.h"
#include "storage/storage.h"
#include "vm.h"

namespace pellux {
namespace {

struct BenchVm {
  std::unique_ptr<Vm> vm = std::make_unique<Vm>();
  explicit BenchVm(uint64_t work) {
    storage_prepare(*vm);
    interp_prepare(*vm);
    compiler_prepare(*vm);
    storage_init(*vm, work);
  }
  ~BenchVm() { storage_release(*vm); }
};

std::vector<std::string> names(int n, const char* prefix) {
  std::vector<std::string> v;
  v.reserve(n);
  for (int64_t i = 0; i < n; ++i) v.push_back(prefix + std::to_string(i * 7919));
  return v;
}

void BM_MakeVariableHit(benchmark::State& state) {
  BenchVm b(64'000'000);
  Vm& vm = *b.vm;
  auto texts = names(10000, "VARIABLE_");
  // Valued, so that regeneration keeps them.
  for (auto& t : texts) {
    Descr v = make_variable(vm, t);
    var_value(v.ptr()) = Descr::integer(1);
  }
  size_t i = 0;
  for (auto _ : state) {
    const std::string& t = texts[i];
    benchmark::DoNotOptimize(make_variable(vm, t.data(), t.size()));
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MakeVariableHit);

void BM_MakeVariableMiss(benchmark::State& state) {
  BenchVm b(64'000'000);
  Vm& vm = *b.vm;
  auto texts = names(100000, "fresh_string_");
  // A first lap touches the memory; the timed laps run in steady state.
  for (auto& t : texts) make_variable(vm, t.data(), t.size());
  regenerate_storage(vm, 0);
  uint64_t regenerations = vm.st.regen_count;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& t = texts[i];
    // Null-valued and unreferenced: each is dropped by the next regeneration, so the next lap
    // over the texts misses again.
    benchmark::DoNotOptimize(make_variable(vm, t.data(), t.size()));
    if (++i == texts.size()) {
      i = 0;
      regenerate_storage(vm, 0);
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["regenerations"] = static_cast<double>(vm.st.regen_count - regenerations);
  state.counters["static_KB"] = static_cast<double>(vm.st.static_end - vm.st.static_start) / 1024;
}
BENCHMARK(BM_MakeVariableMiss);

void BM_AllocateBlock(benchmark::State& state) {
  BenchVm b(64'000'000);
  Vm& vm = *b.vm;
  // Touch the work space once, then keep a live heap of about 1 MB as a program would.
  for (int i = 0; i < 1'000'000; ++i) allocate_block(vm, 48, T_ARRAY);
  Pin live(vm, allocate_block(vm, 1 << 20, T_ARRAY));
  regenerate_storage(vm, 0);
  for (auto _ : state) benchmark::DoNotOptimize(allocate_block(vm, 48, T_ARRAY));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocateBlock);

// The fixed cost of a regeneration: the start-up heap only (variables, static area, index).
void BM_RegenerateStartupHeap(benchmark::State& state) {
  BenchVm b(64'000'000);
  Vm& vm = *b.vm;
  for (auto _ : state) regenerate_storage(vm, 0);
  state.counters["live_KB"] = static_cast<double>(vm.st.free_ptr - vm.st.ws_start) / 1024;
}
BENCHMARK(BM_RegenerateStartupHeap)->Unit(benchmark::kMicrosecond);

// Regeneration time against the number of live strings (valued variables of about 24
// characters, nothing else live but the start-up heap): the cost should grow with them, not
// with the size of the work space.
void BM_RegenerateLiveStrings(benchmark::State& state) {
  BenchVm b(400ull << 20);
  Vm& vm = *b.vm;
  const int64_t n = state.range(0);
  for (int64_t i = 0; i < n; ++i) {
    Descr v = make_variable(vm, "live_string_number_" + std::to_string(i));
    var_value(v.ptr()) = Descr::integer(i);
  }
  regenerate_storage(vm, 0);
  for (auto _ : state) regenerate_storage(vm, 0);
  state.counters["live_MB"] = static_cast<double>(vm.st.free_ptr - vm.st.ws_start) / (1 << 20);
  state.counters["ns_per_string"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_RegenerateLiveStrings)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// A live heap of about 100 MB: arrays of strings and integers, and long linked lists.
void BM_Regenerate100MB(benchmark::State& state) {
  BenchVm b(200ull << 20);
  Vm& vm = *b.vm;
  Pin roots(vm, allocate_block(vm, 16 * 4096, T_ARRAY));
  uint64_t target = 100ull << 20;
  int r = 0;
  while (static_cast<uint64_t>(vm.st.free_ptr - vm.st.ws_start) < target && r < 4096) {
    if (r % 2 == 0) {
      // An array of 1000 elements, half of them distinct strings.
      Descr a = allocate_block(vm, 16 * 1000, T_ARRAY);
      roots->ptr()[1 + r] = a;
      for (int i = 0; i < 1000; ++i) {
        Descr e = (i % 2 == 0) ? make_variable(vm, "s" + std::to_string(r) + "_" + std::to_string(i))
                               : Descr::integer(i);
        roots->ptr()[1 + r].ptr()[1 + i] = e;
      }
    } else {
      // A list of 2000 three-descriptor nodes.
      Pin head(vm, ZERO_DESCR);
      for (int i = 0; i < 2000; ++i) {
        Descr n = allocate_block(vm, 48, T_DATA_BASE + 1);
        n.ptr()[1] = Descr::integer(i);
        n.ptr()[2] = *head;
        head.set(n);
      }
      roots->ptr()[1 + r] = *head;
    }
    ++r;
  }
  regenerate_storage(vm, 0);
  state.counters["live_MB"] =
      static_cast<double>(vm.st.free_ptr - vm.st.ws_start) / (1 << 20);
  for (auto _ : state) regenerate_storage(vm, 0);
}
BENCHMARK(BM_Regenerate100MB)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace pellux
