// The flow as files for viewing: caso.vts read by VTK's own reader, and the
// plots rendered to pictures by gnuplot on a machine without a display.
// Both programs are required: these tests fail, not skip, without them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "apoio/caso.hpp"
#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "malha/malha.hpp"
#include "base/texto.hpp"
#include "apoio/tmpdir.hpp"

namespace {

namespace fs = std::filesystem;
using txtest::CaseFile;
using txtest::read_file;
using txtest::run_tubrix;
using txtest::ScratchDir;

int shell(const std::string& cmd) {
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Width and height of a file holding exactly one PNG image, else 0 x 0.
std::pair<unsigned, unsigned> png_size(const std::string& path) {
  const std::string b = read_file(path);
  if (b.size() < 24 || b.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      b.compare(12, 4, "IHDR") != 0 || b.find("IEND") != b.rfind("IEND") ||
      b.find("IEND") == std::string::npos)
    return {0, 0};
  auto be32 = [&](std::size_t at) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(b[at + k]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST(Campo, FieldFileReadByVtkMatchesTheListing) {
  ASSERT_EQ(shell("/usr/bin/python3 -c 'import vtk' 2>/dev/null"), 0)
      << "VTK for /usr/bin/python3 is required (Debian: python3-vtk9)";
  ScratchDir dir;
  CaseFile cf;
  cf.nx = 8;
  cf.ny = 4;
  cf.w_cam = 1;
  cf.write();
  ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
  EXPECT_FALSE(fs::exists("caso.vts.tmp"));
  const std::string check = std::string("/usr/bin/python3 '") + TUBRIX_SOURCE_DIR +
                            "/tests/resultados/ler_vts.py' caso.vts caso.txt 8 4 > vtk.log 2>&1";
  EXPECT_EQ(shell(check), 0) << read_file("vtk.log");

  // A field file that cannot be written ends the run with an error naming it.
  fs::remove("caso.vts");
  fs::create_directory("caso.vts");
  EXPECT_EQ(run_tubrix(), 1);
  EXPECT_NE(read_file("stderr.log").find("\"caso.vts\""), std::string::npos)
      << read_file("stderr.log");
  EXPECT_FALSE(fs::exists("caso.vts.tmp"));
}

TEST(Campo, PlotsBecomePicturesWithoutADisplay) {
  ASSERT_EQ(shell("gnuplot --version > /dev/null 2>&1"), 0)
      << "gnuplot with the pngcairo terminal is required (Debian: gnuplot-nox)";
  ScratchDir dir;
  CaseFile cf;
  cf.caso = "bocal";
  cf.titulo = "Tubeira c\xf4nica (ar)";
  cf.nx = 10;
  cf.ny = 6;
  cf.sem_g = 0;
  cf.write();
  // No locale either, as in a minimal system: gnuplot must not warn there.
  const std::string cmd = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u LANG -u LC_ALL "
                                      "-u LC_CTYPE TUBRIX_TEMPLATES='") +
                          TUBRIX_SOURCE_DIR + "/templates' '" + TUBRIX_EXE +
                          "' > stdout.log 2> stderr.log";
  ASSERT_EQ(shell(cmd), 0) << read_file("stderr.log");
  const std::string err = read_file("stderr.log");
  EXPECT_EQ(err.find(".gnu\" line"), std::string::npos) << err;  // no script error
  EXPECT_EQ(err.find("unknown"), std::string::npos) << err;

  // Every script as one whole image beside it, and one console line naming them.
  const std::string out = read_file("stdout.log");
  int pictures = 0;
  for (const auto& t : tx::kTemplates) {
    std::string name = t.name;
    name = "bocal." + name.substr(11, name.size() - 15) + ".png";
    SCOPED_TRACE(name);
    const auto size = png_size(name);
    const bool map = name == "bocal.campo.png";
    EXPECT_EQ(size.first, 900u);
    EXPECT_EQ(size.second, map ? 1000u : 560u);
    EXPECT_NE(out.find(" " + name), std::string::npos);
    ++pictures;
  }
  EXPECT_EQ(pictures, 11);
  EXPECT_NE(out.find("11 gráficos gravados em " + fs::current_path().string()),
            std::string::npos)
      << out;

  // Names are quoted for the shell and for gnuplot, whatever they hold.
  txtest::write_file("x.gnu", "plot x\r\nreplot x * x\r\n");
  const std::string odd = "d'\xe1gua \"2\" $HOME\\.png";
  ASSERT_EQ(shell(tx::render_command("x.gnu", odd, tx::Drawing::Replots, {300, 200}) +
                  " 2> gnuplot.log"),
            0)
      << read_file("gnuplot.log");
  EXPECT_EQ(png_size(odd), std::make_pair(300u, 200u));
  EXPECT_EQ(tx::picture_name(tx::padded("d'\xe1gua"), "Tubrix_5p5_campo.gnu"),
            "d'\xe1gua.campo.png");
}

}  // namespace
