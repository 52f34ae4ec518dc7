// The kernels the runner knows: their buffers, inputs, references and tolerances.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qk {

struct Config {
  bool dbl;   // double (else float)
  int width;  // vector width of a work-item: 1, 2, 3, 4, 8, 16
};

// One 64-byte aligned buffer of a kernel argument.
struct Buffer {
  std::string name;
  size_t bytes = 0;
  std::shared_ptr<uint8_t> data;
  Buffer() = default;
  Buffer(std::string n, size_t b) : name(std::move(n)), bytes(b) {
    size_t rounded = (b + 63) / 64 * 64;
    data.reset(static_cast<uint8_t*>(std::aligned_alloc(64, rounded ? rounded : 64)), std::free);
    std::memset(data.get(), 0xA5, rounded);  // outputs start as garbage, never as the answer
  }
  Buffer(const Buffer& o) : Buffer(o.name, o.bytes) { std::memcpy(data.get(), o.data.get(), o.bytes); }
  Buffer& operator=(const Buffer& o) {
    Buffer t(o);
    std::swap(*this, t);
    return *this;
  }
  Buffer(Buffer&&) = default;
  Buffer& operator=(Buffer&&) = default;
  template <class T> T* as() { return reinterpret_cast<T*>(data.get()); }
  template <class T> const T* as() const { return reinterpret_cast<const T*>(data.get()); }
};

// The kernel's arguments, in order, and the NDRange size.
struct Buffers {
  std::vector<Buffer> bufs;
  size_t items = 0;
  std::vector<void*> pointers() {
    std::vector<void*> p(8, nullptr);
    for (size_t i = 0; i < bufs.size() && i < 8; i++) p[i] = bufs[i].data.get();
    return p;
  }
};

// The largest error of each output, in ulps of the output's type (integers: units).
struct Errors {
  double worst = 0;
  std::vector<std::pair<std::string, double>> per_output;
  std::vector<std::string> worst_case;
  std::string describe() const;
};

struct Kernel {
  std::string name;
  std::vector<Config> configs;
  double tol_f, tol_d;  // largest error allowed on the library, float and double
  std::function<Buffers(const Config&, bool quick)> make;
  std::function<Errors(const Config&, const Buffers&)> check;
};

const std::vector<Kernel>& kernels();

// The output (stdout and stderr) of a shell command, and its wait status.
std::string run_capture(const std::string& cmd, int* status);
// An error in ulp for a table: two decimals, three significant digits from 1e5, "inf".
std::string fmt_err(double e);

}  // namespace qk
