// A scratch directory that a test works in: created empty, made the
// current directory, and removed (with the previous directory restored)
// at the end of the test.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace txtest {

class ScratchDir {
 public:
  ScratchDir() : old_(std::filesystem::current_path()) {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("tubrix-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path path_;
};

inline void write_file(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary);
  f << bytes;
}

inline std::string read_file(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Every entry under `folder` but a test's console logs (out.log, err.log): a
// file by its bytes, a link by what it points to, anything else by its kind.
inline std::map<std::string, std::string> snapshot(const std::string& folder = ".") {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> m;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().lexically_relative(folder).string();
    const std::string file = e.path().filename().string();
    if (file == "out.log" || file == "err.log") continue;
    if (e.is_symlink())
      m[name] = "<link " + fs::read_symlink(e.path()).string() + ">";
    else if (e.is_regular_file())
      m[name] = read_file(e.path().string());
    else
      m[name] = e.is_directory() ? "<pasta>" : "<outro>";
  }
  return m;
}

// Lines of a CR LF file, without their line ends.
inline std::vector<std::string> lines_of(const std::string& bytes) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      out.push_back(bytes.substr(pos));
      break;
    }
    out.push_back(bytes.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

// The iterations of a run's residual file (its report lines).
inline std::vector<int> reported_iterations(const std::string& residuo) {
  std::vector<int> its;
  for (const auto& l : lines_of(residuo))
    if (!l.empty() && l[0] != '#') its.push_back(std::stoi(l.substr(0, 10)));
  return its;
}

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace txtest
