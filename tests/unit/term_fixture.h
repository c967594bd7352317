// Shared set-up for the termination and dump tests: a complete Vm whose unit 6 writes to a
// scratch file, so that reports (also those of a death-test child) can be read back.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/io.h"
#include "test_vm.h"

namespace pellux::testing_term {

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    path_ = (std::filesystem::temp_directory_path() /
             ("pellux-term-" + std::to_string(rd()) + "-" + std::to_string(rd()) + ".out"))
                .string();
    ASSERT_TRUE(bind_unit(*vm_, 6, Direction::Write, path_.data(), path_.size(), "", 0));
  }
  void TearDown() override {
    close_unit(*vm_, 6);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }

  Vm& vm() { return *vm_; }

  // The records written to unit 6 so far (line ends removed).
  std::vector<std::string> records() {
    std::ifstream f(path_, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i] == '\n') {
        size_t end = i > start && all[i - 1] == '\r' ? i - 1 : i;
        out.emplace_back(all.substr(start, end - start));
        start = i + 1;
      }
    }
    if (start < all.size()) out.emplace_back(all.substr(start));
    return out;
  }
  std::string raw() {
    std::ifstream f(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }

  void set_var(std::string_view name, const Descr& value) {
    Pin v(vm(), value);
    Descr n = make_variable(vm(), name);
    var_value(n.ptr()) = *v;
  }

  testing_vm::TestVm vm_;
  std::string path_;
};

}  // namespace pellux::testing_term
