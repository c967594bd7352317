// Shared set-up for tests of the unit and record layer: a Vm without a work space (its
// keyword cells are a local zeroed array) and a scratch folder for files.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "io/io.h"
#include "io/units.h"
#include "storage/storage.h"
#include "vm.h"

namespace pellux::testing_io {

class IoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_ = std::make_unique<Vm>();
    for (auto& d : keywords_) d = Descr{0, 0};
    vm_->st.ukw = keywords_;
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("pellux-io-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    for (int u = 0; u < UNIT_COUNT; ++u) {
      UnitRecord* r = vm_->io.units[u];
      if (r && (r->flags & UF_STD)) r->handle = platform::NO_HANDLE;  // never close 0/1/2
      if (r) close_unit(*vm_, u);
    }
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  Vm& vm() { return *vm_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream f(path(name), std::ios::binary);
    f << bytes;
  }
  std::string file_bytes(const std::string& name) {
    std::ifstream f(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  // Binds a unit for reading or writing the named scratch file with the given attributes.
  void bind(int64_t unit, Direction d, const std::string& name, const std::string& attrs = "") {
    std::string p = path(name);
    ASSERT_TRUE(bind_unit(vm(), unit, d, p.data(), p.size(), attrs.data(), attrs.size()));
  }

  // One read; the record text (empty for the other outcomes) and the outcome.
  ReadOutcome read(int64_t unit, uint64_t length, std::string* text) {
    std::string buf(length + 16, '\x7f');
    uint64_t got = 12345;
    ReadOutcome r = read_record(vm(), unit, buf.data(), length, &got);
    text->assign(r == ReadOutcome::Record ? buf.substr(0, got) : std::string());
    return r;
  }

  bool write(int64_t unit, const std::string& text) {
    return write_record(vm(), unit, text.data(), text.size());
  }

  int64_t keyword(UKw k) const { return static_cast<int64_t>(keywords_[2 * k].a); }
  void set_keyword(UKw k, int64_t v) { keywords_[2 * k] = Descr::integer(v); }

  std::unique_ptr<Vm> vm_;
  Descr keywords_[2 * K_UNPROTECTED_COUNT];
  std::filesystem::path dir_;
};

}  // namespace pellux::testing_io
