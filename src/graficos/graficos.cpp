#include "graficos/graficos.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

// A gnuplot string in double quotes (where backslash escapes apply).
std::string gnuplot_string(std::string_view s) {
  std::string r = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') r += '\\';
    r += ch;
  }
  return r + '"';
}

// One shell word in single quotes, whatever the bytes.
std::string shell_word(std::string_view s) {
  std::string r = "'";
  for (char ch : s) {
    if (ch == '\'')
      r += "'\\''";
    else
      r += ch;
  }
  return r + '\'';
}

}  // namespace

std::string picture_name(std::string_view caso, std::string_view script) {
  std::string_view name = script;
  constexpr std::string_view prefix = "Tubrix_5p5_", suffix = ".gnu";
  if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
  if (name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
    name.remove_suffix(suffix.size());
  return trimmed(caso) + "." + std::string(name) + ".png";
}

std::string render_command(std::string_view script, std::string_view png, Drawing drawing,
                           PictureSize size) {
  const std::string terminal = "set terminal pngcairo size " + std::to_string(size.width) +
                               "," + std::to_string(size.height) + "; set output " +
                               gnuplot_string(png);
  std::string cmd = "gnuplot -e ";
  if (drawing == Drawing::Once) {
    cmd += shell_word(terminal) + " " + std::string(script);
  } else {
    // The replots go nowhere; the whole plot is then drawn once into the picture.
    cmd += shell_word("set terminal dumb; set output \"/dev/null\"") + " " +
           std::string(script) + " -e " + shell_word(terminal + "; replot");
  }
  return cmd;
}

void open_plot(State& s, const std::string& script, Drawing drawing, PictureSize size) {
  if (s.c.sem_g != 0 || !s.os.run_command) return;
  if (!s.os.has_display || s.os.has_display()) {
    s.os.run_command("wgnuplot " + script);
    return;
  }
  const std::string png = picture_name(s.c.caso, script);
  // A picture left by an earlier run must not pass for this run's.
  std::error_code ec;
  std::filesystem::remove(file_path(png), ec);
  s.os.run_command(render_command(script, png, drawing, size));
  s.pictures.push_back(png);
}

void report_pictures(const State& s) {
  std::string names;
  int count = 0;
  for (const std::string& p : s.pictures) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) continue;
    names += (count++ == 0 ? "" : " ") + p;
  }
  if (count == 0) return;
  std::error_code ec;
  const std::string dir = std::filesystem::current_path(ec).string();
  std::printf("Sem tela (DISPLAY e WAYLAND_DISPLAY vazios): %d gráfico%s gravado%s em %s: %s\n",
              count, count == 1 ? "" : "s", count == 1 ? "" : "s", dir.c_str(), names.c_str());
  std::fflush(stdout);
}

}  // namespace tx
