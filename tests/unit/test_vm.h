// A complete Vm for unit tests: the static area, the interpreter's and the compiler's static
// data, and a small work space with the start-up tables made.  Memory is given back at the end.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "compiler/compiler.h"
#include "interp/interp.h"
#include "storage/storage.h"
#include "vm.h"

namespace pellux::testing_vm {

class TestVm {
 public:
  explicit TestVm(uint64_t work_size = 4'000'000) : vm_(std::make_unique<Vm>()) {
    storage_prepare(*vm_);
    interp_prepare(*vm_);
    compiler_prepare(*vm_);
    storage_init(*vm_, work_size);
  }
  ~TestVm() { storage_release(*vm_); }
  TestVm(const TestVm&) = delete;
  TestVm& operator=(const TestVm&) = delete;

  Vm& operator*() { return *vm_; }
  Vm* operator->() { return vm_.get(); }
  Vm& vm() { return *vm_; }

  // Tests that count regenerations exactly switch the collector-stress build's extra
  // regenerations off.
  void no_stress() { set_stress_period(*vm_, ~uint64_t{0}); }

 private:
  std::unique_ptr<Vm> vm_;
};

inline std::string text_of(const Descr& s) {
  return std::string(string_text(s), string_length(s));
}

inline Descr str(Vm& vm, std::string_view s) { return make_variable(vm, s); }

}  // namespace pellux::testing_vm
